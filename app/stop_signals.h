#pragma once

#include "platform/main_queue.h"

namespace quillmate {

// Takes SIGTERM, SIGINT and SIGHUP as the host's stop request, as the end of standard input is:
// the handler only wakes a thread of its own, which requests the stop. A second signal changes
// nothing, since the graceful stop is already under way.
void startStopSignals(MainQueue& mainQueue);

}  // namespace quillmate
