// The main queue: a serial queue whose work runs on the main thread in the order posted.
#pragma once

#include <chrono>
#include <functional>

namespace quillmate {

class MainQueue {
 public:
  using Work = std::function<void()>;
  using Duration = std::chrono::steady_clock::duration;

  virtual ~MainQueue() = default;
  // Safe from any thread; `work` runs later on the main thread, after what is already queued.
  virtual void post(Work work) = 0;
  // Safe from any thread; `work` runs once `delay` has passed on the monotonic clock, counted
  // from this call.
  virtual void postAfter(Duration delay, Work work) = 0;
  // The queue's own monotonic clock, the one `postAfter` counts on.
  virtual Duration now() { return std::chrono::steady_clock::now().time_since_epoch(); }
  // Gives the calling thread to the queue for good.
  [[noreturn]] virtual void run() = 0;
};

}  // namespace quillmate
