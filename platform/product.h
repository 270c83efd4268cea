// The platform's own queues and the product's platform: one implementation per operating system
// (Asio, a thread and PulseAudio with pocketsphinx on Linux; Dispatch, Speech and AVFAudio on
// macOS). The build picks which.
#pragma once

#include <functional>
#include <memory>

#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate {

std::unique_ptr<MainQueue> makeMainQueue();
// Runs `work` once, on a background thread of low (utility) priority, never the main thread.
void runInBackground(std::function<void()> work);
// The platform may keep state of its own on `mainQueue`, which outlives it.
std::unique_ptr<Platform> makeProductPlatform(MainQueue& mainQueue);

}  // namespace quillmate
