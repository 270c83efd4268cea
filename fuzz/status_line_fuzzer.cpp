// Arbitrary bytes as status, transcript and error must always give one status line: valid JSON
// with exactly three string members, cuts within their limits and never inside a character.
#include <fuzzer/FuzzedDataProvider.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "output/characters.h"
#include "output/status_line.h"

namespace {

void require(bool holds) {
  if (!holds) std::abort();
}

// Byte offsets at which a new user-perceived character starts, and the end.
std::set<std::size_t> characterStarts(const std::string& text, std::size_t& count) {
  std::set<std::size_t> starts;
  count = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    utf8proc_int32_t codePoint;
    auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                   static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    require(length > 0);  // repaired text is valid UTF-8
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state)) {
      starts.insert(at);
      ++count;
    }
    previous = codePoint;
    at += static_cast<std::size_t>(length);
  }
  starts.insert(text.size());
  return starts;
}

void checkCut(const std::string& input, const std::string& written, std::size_t limit) {
  std::string whole = quillmate::repairUtf8(input);
  std::size_t total = 0;
  auto starts = characterStarts(whole, total);
  require(whole.compare(0, written.size(), written) == 0);  // a prefix of the text
  require(starts.count(written.size()) == 1);               // cut between characters
  std::size_t kept = 0;
  characterStarts(written, kept);
  require(kept == std::min(total, limit));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::string status = provider.ConsumeRandomLengthString(64);
  std::string error = provider.ConsumeRandomLengthString(8000);
  std::string transcript = provider.ConsumeRemainingBytesAsString();
  // Short inputs reach the limits too: repeat the transcript past 4000 characters sometimes.
  if (!transcript.empty() && transcript.size() < 64 && transcript[0] == 'R') {
    std::string repeated;
    while (repeated.size() < 20000) repeated += transcript;
    transcript = repeated;
  }

  std::string line = quillmate::statusLine(status, transcript, error);
  require(!line.empty() && line.back() == '\n');
  require(line.find('\n') == line.size() - 1);
  auto json = nlohmann::json::parse(line, nullptr, false);
  require(json.is_object() && json.size() == 3);
  for (const char* key : {"status", "transcript", "error"}) {
    require(json.contains(key) && json[key].is_string());
  }
  require(json["status"].get<std::string>() == quillmate::repairUtf8(status));
  checkCut(transcript, json["transcript"].get<std::string>(), quillmate::kTranscriptLimit);
  checkCut(error, json["error"].get<std::string>(), quillmate::kErrorLimit);
  return 0;
}
