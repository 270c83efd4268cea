#include "tests/status_lines.h"

#include <nlohmann/json.hpp>

namespace quillmate::testing {
namespace {

Line parseLine(const std::string& text) {
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return {"<invalid: not a JSON object>", text, ""};
  if (json.size() != 3) return {"<invalid: not exactly three members>", text, ""};
  for (const char* key : {"status", "transcript", "error"}) {
    if (!json.contains(key) || !json[key].is_string()) {
      return {std::string("<invalid: no string ") + key + ">", text, ""};
    }
  }
  return {json["status"], json["transcript"], json["error"]};
}

}  // namespace

std::vector<Line> parseLines(const std::string& output) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back({"<invalid: no line feed>", output.substr(start), ""});
      break;
    }
    lines.push_back(parseLine(output.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

}  // namespace quillmate::testing
