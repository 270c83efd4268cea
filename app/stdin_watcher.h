#pragma once

#include "platform/main_queue.h"

namespace quillmate {

// Waits for the end of standard input in the background, discarding what it reads, then posts
// `finish` with no error to the main queue, once. A read that is interrupted is retried; any
// other read error counts as end-of-file, since the host can no longer reach the helper
// through standard input.
void startStdinWatcher(MainQueue& mainQueue);

}  // namespace quillmate
