// The queues on macOS: the Dispatch main queue, serviced by the main run loop, and the global
// queue of utility quality of service for background work. Each work item drains its own
// autorelease pool: a command-line tool's run loop has no event loop around it that would.
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include "platform/product.h"

namespace quillmate {
namespace {

class DispatchMainQueue final : public MainQueue {
 public:
  void post(Work work) override {
    dispatch_async(dispatch_get_main_queue(), ^{
      @autoreleasepool {
        work();
      }
    });
  }

  void postAfter(Duration delay, Work work) override {
    // dispatch_time counts on the monotonic clock, from now.
    int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds), dispatch_get_main_queue(), ^{
      @autoreleasepool {
        work();
      }
    });
  }

  [[noreturn]] void run() override {
    for (;;) {
      @autoreleasepool {
        CFRunLoopRun();
      }
    }
  }
};

}  // namespace

std::unique_ptr<MainQueue> makeMainQueue() { return std::make_unique<DispatchMainQueue>(); }

void runInBackground(std::function<void()> work) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_UTILITY, 0), ^{
    @autoreleasepool {
      work();
    }
  });
}

}  // namespace quillmate
