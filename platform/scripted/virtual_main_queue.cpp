#include "platform/scripted/virtual_main_queue.h"

#include <cstdlib>

namespace quillmate::scripted {

void VirtualMainQueue::post(Work work) { postAfter(Duration::zero(), std::move(work)); }

void VirtualMainQueue::postAfter(Duration delay, Work work) {
  std::lock_guard lock(mutex);
  queued.emplace(std::make_pair(clock + delay, sequence++), std::move(work));
}

void VirtualMainQueue::run() {
  runFor(std::chrono::hours(24));
  std::abort();
}

void VirtualMainQueue::runFor(Duration span) {
  Duration end;
  {
    std::lock_guard lock(mutex);
    end = clock + span;
  }
  for (;;) {
    Work work;
    {
      std::lock_guard lock(mutex);
      if (queued.empty() || queued.begin()->first.first > end) {
        clock = end;
        return;
      }
      auto next = queued.begin();
      clock = std::max(clock, next->first.first);
      work = std::move(next->second);
      queued.erase(next);
    }
    work();
  }
}

MainQueue::Duration VirtualMainQueue::now() {
  std::lock_guard lock(mutex);
  return clock;
}

bool VirtualMainQueue::idle() {
  std::lock_guard lock(mutex);
  return queued.empty();
}

}  // namespace quillmate::scripted
