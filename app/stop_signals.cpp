#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "app/process.h"

namespace quillmate {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

int stopPipe[2] = {-1, -1};

// Only wakes the stop thread: no work in a signal handler.
void onStopSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(stopPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void startStopSignals(MainQueue& mainQueue) {
  if (pipe(stopPipe) != 0) return;
  for (int end : stopPipe) fcntl(end, F_SETFD, FD_CLOEXEC);
  fcntl(stopPipe[1], F_SETFL, O_NONBLOCK);
  std::thread([&mainQueue] {
    for (;;) {
      char byte;
      ssize_t count = read(stopPipe[0], &byte, 1);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;
      requestStop(mainQueue);
    }
  }).detach();
  for (int signal : kStopSignals) {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace quillmate
