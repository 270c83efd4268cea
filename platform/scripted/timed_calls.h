// Calls kept in deadline order, ties in the order they were added: the order in which both the
// scripted platform's thread and the virtual main queue run what they were given. Its owner
// holds the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace quillmate::scripted {

template <typename Time>
class TimedCalls {
 public:
  void add(Time deadline, std::function<void()> call) {
    calls.emplace(std::make_pair(deadline, sequence++), std::move(call));
  }

  bool empty() const { return calls.empty(); }
  // The earliest deadline; only while not empty.
  Time nextDeadline() const { return calls.begin()->first.first; }
  // Removes and gives the earliest call; only while not empty.
  std::function<void()> takeNext() {
    auto next = calls.begin();
    std::function<void()> call = std::move(next->second);
    calls.erase(next);
    return call;
  }

 private:
  uint64_t sequence = 0;
  std::map<std::pair<Time, uint64_t>, std::function<void()>> calls;
};

}  // namespace quillmate::scripted
