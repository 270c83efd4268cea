// The record of a scripted platform's calls.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillmate::scripted {

// Every platform call in order, as one line each: the operation's name, then its fixed
// arguments. Appended to a file as well when one is named. Buffers appended by the tap are not
// recorded.
class CallLog {
 public:
  explicit CallLog(std::optional<std::string> path = std::nullopt);
  void record(const std::string& call);
  std::vector<std::string> calls();

 private:
  std::mutex mutex;
  std::optional<std::string> path;
  std::vector<std::string> recorded;
};

}  // namespace quillmate::scripted
