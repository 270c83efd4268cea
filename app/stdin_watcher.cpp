// The stdin watcher on Linux: a thread of its own at a lower priority.
#include "app/stdin_watcher.h"

#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "app/process.h"
#include "app/read_to_end.h"

namespace quillmate {

void startStdinWatcher(MainQueue& mainQueue) {
  std::thread([&mainQueue] {
    // Utility priority: the wait must never compete with the main thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    readStandardInputToEnd();
    mainQueue.post([] { session->finish(); });
  }).detach();
}

}  // namespace quillmate
