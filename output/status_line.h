// Status lines: the helper's only output and its whole report to the host.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmate {

inline constexpr std::size_t kTranscriptLimit = 4000;
inline constexpr std::size_t kErrorLimit = 1000;

// One compact JSON object with exactly the string members `status`, `transcript` (first 4000
// characters) and `error` (first 1000 characters), followed by one line feed.
std::string statusLine(std::string_view status, std::string_view transcript,
                       std::string_view error);

// Writes one status line to standard output and flushes it before returning. A failed write
// (the host closed its end) is a dropped line, never reported to the caller. Keeps the last line
// (output/last_line.h) current with the transcript.
void emit(std::string_view status, std::string_view transcript = {}, std::string_view error = {});

}  // namespace quillmate
