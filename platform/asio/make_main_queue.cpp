#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "platform/asio/asio_main_queue.h"
#include "platform/product.h"

namespace quillmate {

std::unique_ptr<MainQueue> makeMainQueue() { return std::make_unique<AsioMainQueue>(); }

void runInBackground(std::function<void()> work) {
  std::thread([work = std::move(work)] {
    // Utility priority: background work must never compete with the main thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    work();
  }).detach();
}

}  // namespace quillmate
