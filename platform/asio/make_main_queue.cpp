#include "platform/asio/asio_main_queue.h"
#include "platform/product.h"

namespace quillmate {

std::unique_ptr<MainQueue> makeMainQueue() { return std::make_unique<AsioMainQueue>(); }

}  // namespace quillmate
