// The record of a scripted platform's calls.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/scripted/faults.h"

namespace quillmate::scripted {

// Every platform call in order, as one line each: the operation's name, then its fixed
// arguments. Appended to a file as well when one is named. Buffers appended by the tap are not
// recorded.
// A scenario's fault strikes as the operation it names is recorded, on the caller's thread.
class CallLog {
 public:
  explicit CallLog(std::optional<std::string> path = std::nullopt);
  void record(const std::string& call);
  std::vector<std::string> calls();
  void arm(std::optional<Fault> armed) { fault = std::move(armed); }
  // Where `operation` runs: strikes if the fault names it.
  void faultPoint(const std::string& operation);

 private:
  std::mutex mutex;
  std::optional<std::string> path;
  std::vector<std::string> recorded;
  std::optional<Fault> fault;  // set before any call, read only after
};

}  // namespace quillmate::scripted
