#include "app/stdin_watcher.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "app/process.h"

namespace quillmate {
namespace {

void readToEnd() {
  char discarded[4096];
  for (;;) {
    ssize_t count = read(STDIN_FILENO, discarded, sizeof discarded);
    if (count > 0) continue;
    if (count < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace

void startStdinWatcher(MainQueue& mainQueue) {
  std::thread([&mainQueue] {
    // A utility-priority worker: the wait must never compete with the main thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    readToEnd();
    mainQueue.post([] { session->finish(); });
  }).detach();
}

}  // namespace quillmate
