// A main queue on virtual time, for tests: the grace period and the session cap pass at once.
#pragma once

#include <mutex>

#include "platform/main_queue.h"
#include "platform/scripted/timed_calls.h"

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
  TimedCalls<Duration> queued;
};

}  // namespace quillmate::scripted
