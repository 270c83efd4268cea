#include "platform/scripted/delivery.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

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
    calls.emplace(std::make_pair(std::chrono::steady_clock::now() + delay, sequence++),
                  std::move(call));
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
      auto next = calls.begin();
      if (std::chrono::steady_clock::now() < next->first.first) {
        wake.wait_until(lock, next->first.first);
        continue;
      }
      auto call = std::move(next->second);
      calls.erase(next);
      lock.unlock();
      call();
      lock.lock();
    }
  }

  std::mutex mutex;
  std::condition_variable wake;
  uint64_t sequence = 0;
  std::map<std::pair<std::chrono::steady_clock::time_point, uint64_t>, std::function<void()>> calls;
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
