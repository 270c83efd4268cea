#include "platform/scripted/virtual_main_queue.h"

#include <algorithm>
#include <cstdlib>

namespace quillmate::scripted {

void VirtualMainQueue::post(Work work) { postAfter(Duration::zero(), std::move(work)); }

void VirtualMainQueue::postAfter(Duration delay, Work work) {
  std::lock_guard lock(mutex);
  queued.add(clock + delay, std::move(work));
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
      if (queued.empty() || queued.nextDeadline() > end) {
        clock = end;
        return;
      }
      clock = std::max(clock, queued.nextDeadline());
      work = queued.takeNext();
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
