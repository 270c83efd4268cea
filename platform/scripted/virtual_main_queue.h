// A main queue on virtual time, for tests: the grace period and the session cap pass at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "platform/main_queue.h"

namespace quillmate::scripted {

class VirtualMainQueue final : public MainQueue {
 public:
  void post(Work work) override;
  void postAfter(Duration delay, Work work) override;
  // There is no end to wait for on virtual time: a test drives the queue with runFor instead.
  [[noreturn]] void run() override;

  // Runs queued work in deadline order, moving virtual time forward to each deadline, until
  // nothing is left before `now() + span`; then virtual time stands at that point.
  void runFor(Duration span);
  Duration now() override;
  bool idle();

 private:
  std::mutex mutex;  // work is posted from platform threads
  Duration clock{};
  uint64_t sequence = 0;
  std::map<std::pair<Duration, uint64_t>, Work> queued;
};

}  // namespace quillmate::scripted
