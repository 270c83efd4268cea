// The stdin watcher on macOS: work on the global queue of utility quality of service.
#include "app/stdin_watcher.h"

#include <dispatch/dispatch.h>

#include "app/process.h"
#include "app/read_to_end.h"

namespace quillmate {

void startStdinWatcher(MainQueue& mainQueue) {
  MainQueue* queue = &mainQueue;
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_UTILITY, 0), ^{
    readStandardInputToEnd();
    queue->post([] { session->finish(); });
  });
}

}  // namespace quillmate
