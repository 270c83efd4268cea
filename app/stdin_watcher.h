#pragma once

#include "platform/main_queue.h"

namespace quillmate {

// Reads standard input on a background thread of low priority, discarding what it reads. At
// end-of-file, or on a read error other than an interruption (the host can no longer reach us
// either way), it posts `finish` with no error to the main queue, once.
void startStdinWatcher(MainQueue& mainQueue);

}  // namespace quillmate
