#include "app/stdin_watcher.h"

#include <unistd.h>

#include <cerrno>

#include "app/process.h"
#include "platform/product.h"

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
  runInBackground([&mainQueue] {
    readToEnd();
    requestStop(mainQueue);
  });
}

}  // namespace quillmate
