#include "app/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/final_line_guard.h"
#include "app/stdin_watcher.h"
#include "app/stop_signals.h"
#include "output/last_line.h"

namespace quillmate {

std::shared_ptr<Dictation>& session = *new std::shared_ptr<Dictation>();

void openStandardDescriptors() {
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken, and every lower one is open by now, so the file lands
    // on `descriptor`. A closed standard input then reads as end-of-file: the host's stop.
    int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
}

void requestStop(MainQueue& mainQueue) {
  stopRequested();
  mainQueue.post([] { session->finish(); });
}

void runProcess(int argc, char** argv, Platform& platform, MainQueue& mainQueue,
                ProcessSettings settings) {
  // Armed first: constructing the session starts loading the model, and the library that
  // loads it may end the process from its own thread.
  guardFinalLine({settings.sessionCap, settings.gracePeriod});
  startStopSignals(mainQueue);
  SessionContext context{platform, mainQueue, std::vector<std::string>(argv, argv + argc),
                         settings.gracePeriod};
  context.exitProcess = exitAfterFinalLine;
  context.claimFinalLine = claimFinalLine;
  context.stopRequested = stopRequested;
  session = std::make_shared<Dictation>(std::move(context));
  // A host that closed our standard output must not kill us with SIGPIPE: a failed write is
  // just a dropped line, and the process still ends with its own exit status.
  std::signal(SIGPIPE, SIG_IGN);
  mainQueue.postAfter(settings.sessionCap, [&mainQueue] { requestStop(mainQueue); });
  startStdinWatcher(mainQueue);
  session->start();
  mainQueue.run();
  std::abort();  // not reached: the main queue never gives the thread back
}

}  // namespace quillmate
