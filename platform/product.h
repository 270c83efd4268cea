// The platform's own main queue and the product's platform: one implementation per operating
// system (Asio and PulseAudio with pocketsphinx on Linux; Dispatch, Speech and AVFAudio on
// macOS). The build picks which.
#pragma once

#include <memory>

#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate {

std::unique_ptr<MainQueue> makeMainQueue();
std::unique_ptr<Platform> makeProductPlatform();

}  // namespace quillmate
