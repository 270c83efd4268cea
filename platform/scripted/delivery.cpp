#include "platform/scripted/delivery.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/scripted/timed_calls.h"
#include "platform/scripted/virtual_main_queue.h"

namespace quillmate::scripted {
namespace {

class PlatformThread {
 public:
  PlatformThread() {
    std::thread([this] { serve(); }).detach();
  }

  void schedule(std::chrono::milliseconds delay, std::function<void()> call) {
    std::lock_guard lock(mutex);
    calls.add(std::chrono::steady_clock::now() + delay, std::move(call));
    wake.notify_one();
  }

 private:
  void serve() {
    std::unique_lock lock(mutex);
    for (;;) {
      if (calls.empty()) {
        wake.wait(lock);
        continue;
      }
      auto deadline = calls.nextDeadline();
      if (std::chrono::steady_clock::now() < deadline) {
        wake.wait_until(lock, deadline);
        continue;
      }
      auto call = calls.takeNext();
      lock.unlock();
      call();
      lock.lock();
    }
  }

  std::mutex mutex;
  std::condition_variable wake;
  TimedCalls<std::chrono::steady_clock::time_point> calls;
};

}  // namespace

Delivery realTimeDelivery() {
  // Never destroyed: its thread may still wait when the process exits.
  auto* thread = new PlatformThread();
  return [thread](std::chrono::milliseconds delay, std::function<void()> call) {
    thread->schedule(delay, std::move(call));
  };
}

Delivery virtualDelivery(VirtualMainQueue& queue) {
  return [&queue](std::chrono::milliseconds delay, std::function<void()> call) {
    queue.postAfter(delay, [call = std::move(call)] { std::thread(call).join(); });
  };
}

}  // namespace quillmate::scripted
