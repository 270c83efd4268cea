// Reading status lines back as a host does: each line parsed as JSON with exactly three string
// members.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quillmate::testing {

struct Line {
  std::string status;
  std::string transcript;
  std::string error;
  bool operator==(const Line&) const = default;
};

inline void PrintTo(const Line& line, std::ostream* out) {
  *out << "{" << line.status << " | " << line.transcript.substr(0, 80) << " | " << line.error
       << "}";
}

// Splits standard output into lines and parses each; a line that is not a valid status line
// becomes a Line with status "<invalid: reason>" so that comparisons show it.
std::vector<Line> parseLines(const std::string& output);

}  // namespace quillmate::testing
