#include "output/status_line.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "output/characters.h"

namespace quillmate {

std::string statusLine(std::string_view status, std::string_view transcript,
                       std::string_view error) {
  nlohmann::json line = {
      {"status", repairUtf8(status)},
      {"transcript", firstCharacters(transcript, kTranscriptLimit)},
      {"error", firstCharacters(error, kErrorLimit)},
  };
  // Every member is valid UTF-8 by now; `replace` only guards against a future slip.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

void emit(std::string_view status, std::string_view transcript, std::string_view error) {
  std::string line = statusLine(status, transcript, error);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  // A closed pipe leaves the stream's error flag set; clear it so a later line is still tried.
  std::clearerr(stdout);
}

}  // namespace quillmate
