#include "platform/scripted/call_log.h"

#include <fstream>
#include <utility>

namespace quillmate::scripted {

CallLog::CallLog(std::optional<std::string> path) : path(std::move(path)) {}

void CallLog::record(const std::string& call) {
  {
    std::lock_guard lock(mutex);
    recorded.push_back(call);
    if (path) std::ofstream(*path, std::ios::app) << call << '\n';
  }
  faultPoint(call.substr(0, call.find(' ')));
}

void CallLog::faultPoint(const std::string& operation) {
  if (fault && fault->in == operation) strike(fault->kind);
}

std::vector<std::string> CallLog::calls() {
  std::lock_guard lock(mutex);
  return recorded;
}

}  // namespace quillmate::scripted
