// The production main queue on Linux: an Asio io_context run by the main thread.
#pragma once

#include <memory>

#include "platform/main_queue.h"

namespace quillmate {

class AsioMainQueue final : public MainQueue {
 public:
  AsioMainQueue();
  ~AsioMainQueue() override;
  void post(Work work) override;
  void postAfter(Duration delay, Work work) override;
  [[noreturn]] void run() override;

 private:
  struct Loop;
  std::unique_ptr<Loop> loop;
};

}  // namespace quillmate
