#include "platform/asio/asio_main_queue.h"

#include <asio.hpp>

namespace quillmate {

struct AsioMainQueue::Loop {
  asio::io_context context{1};
  // Keeps run() waiting when nothing is queued; the process ends only by exiting.
  asio::executor_work_guard<asio::io_context::executor_type> keepRunning =
      asio::make_work_guard(context);
};

AsioMainQueue::AsioMainQueue() : loop(std::make_unique<Loop>()) {}

AsioMainQueue::~AsioMainQueue() = default;

void AsioMainQueue::post(Work work) { asio::post(loop->context, std::move(work)); }

void AsioMainQueue::postAfter(Duration delay, Work work) {
  // The deadline is taken now, on the caller's thread; the timer itself is made on the main
  // thread, because an Asio timer may only be touched by the thread that runs its context.
  auto deadline = std::chrono::steady_clock::now() + delay;
  asio::post(loop->context, [this, deadline, work = std::move(work)]() mutable {
    auto timer = std::make_shared<asio::steady_timer>(loop->context, deadline);
    timer->async_wait([timer, work = std::move(work)](const asio::error_code&) { work(); });
  });
}

void AsioMainQueue::run() {
  for (;;) {
    loop->context.run();
    loop->context.restart();
  }
}

}  // namespace quillmate
