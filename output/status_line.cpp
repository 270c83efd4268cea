#include "output/status_line.h"

#include <nlohmann/json.hpp>

#include "output/characters.h"
#include "output/last_line.h"

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
  // Kept current first, so that a process that dies while this line is written still reports
  // these words.
  prepareLastLine(transcript);
  writeStatusLine(line);
}

}  // namespace quillmate
