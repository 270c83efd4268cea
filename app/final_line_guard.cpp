#include "app/final_line_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <thread>

#include "output/last_line.h"

namespace quillmate {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

struct sigaction previousActions[sizeof kFatalSignals / sizeof kFatalSignals[0]];
std::atomic<bool> exitingNormally{false};
std::atomic<int64_t> firstStopRequest{INT64_MAX};  // nanoseconds on the steady clock

int64_t nanosecondsNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Writes the last line, lets a handler installed before ours (a sanitizer's) run, and ends the
// process with the status that matches the final line on standard output.
void onFatalSignal(int signal, siginfo_t* info, void* context) {
  bool wrote = false;
  int status = writeLastLine(&wrote);
  if (wrote) {
    for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
      if (kFatalSignals[i] != signal) continue;
      const struct sigaction& previous = previousActions[i];
      if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) previous.sa_sigaction(signal, info, context);
      } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
      }
    }
  }
  _exit(status);
}

// `exit` from anywhere but the session's own end: a library gave up on this process.
void onExit() {
  if (exitingNormally.load()) return;
  _exit(writeLastLine());
}

[[noreturn]] void onTerminate() { _exit(writeLastLine()); }

void installFatalSignalHandlers() {
  // Its own stack, so that a stack overflow on the main thread can still be answered.
  static char alternateStack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  for (std::size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(kFatalSignals[i], &action, &previousActions[i]);
  }
}

// Ends the process when its final line is overdue by kOverdueMargin: the main thread has
// stopped answering, so neither the grace period nor the cap can end the session. Touches no
// session state.
void startWatchdog(FinalLineDeadlines deadlines) {
  auto startedAt = nanosecondsNow();
  std::thread([deadlines, startedAt] {
    auto ns = [](auto span) {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    };
    int64_t latest = startedAt + ns(deadlines.sessionCap + deadlines.gracePeriod);
    int64_t claimSeenAt = 0;
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      int64_t now = nanosecondsNow();
      int status = finalLineStatus();
      if (status >= 0) {
        // The final line is out; the process has its margin to finish exiting.
        if (claimSeenAt == 0) claimSeenAt = now;
        if (now - claimSeenAt > ns(kOverdueMargin)) _exit(status);
        continue;
      }
      int64_t stop = firstStopRequest.load();
      int64_t due = latest;
      if (stop != INT64_MAX) due = std::min(due, stop + ns(deadlines.gracePeriod));
      if (now > due + ns(kOverdueMargin)) _exit(writeLastLine());
    }
  }).detach();
}

}  // namespace

void guardFinalLine(FinalLineDeadlines deadlines) {
  installFatalSignalHandlers();
  std::atexit(onExit);
  std::set_terminate(onTerminate);
  startWatchdog(deadlines);
}

void stopRequested() {
  int64_t now = nanosecondsNow();
  int64_t earliest = firstStopRequest.load();
  while (now < earliest && !firstStopRequest.compare_exchange_weak(earliest, now)) {
  }
}

void exitAfterFinalLine(int status) {
  if (!finalLineIsTheSessions()) {
    // Another road claimed the final line and ends the process once it is written; exiting
    // here instead could cut that line short.
    _exit(writeLastLine());
  }
  finalLineWritten();
  exitingNormally.store(true);
  std::exit(status);
}

void silenceStandardError() {
#ifndef QUILLMATE_KEEP_STANDARD_ERROR
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  if (null != STDERR_FILENO) {
    dup2(null, STDERR_FILENO);
    close(null);
  }
#endif
}

}  // namespace quillmate
