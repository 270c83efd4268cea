#pragma once

#include "platform/main_queue.h"

namespace quillmate {

// Waits for the end of standard input on a background thread of low (utility) priority, then
// posts `finish` with no error to the main queue, once.
void startStdinWatcher(MainQueue& mainQueue);

}  // namespace quillmate
