// Every road that ends the process writes exactly one final line, the last, with the exit
// status to match: besides the session's own `complete`, a fatal signal, `exit` called by a
// library on any thread, an exception that escapes a thread, and a main thread that has stopped
// answering.
#pragma once

#include <chrono>

namespace quillmate {

struct FinalLineDeadlines {
  std::chrono::milliseconds sessionCap;
  std::chrono::milliseconds gracePeriod;
};

// How long past its due time a final line may be before the watchdog ends the process.
inline constexpr std::chrono::milliseconds kOverdueMargin{2000};

// Arms every guard, once, before the session is made: the fatal-signal handlers (chaining to
// any installed before, such as a sanitizer's), the exit hook, the terminate handler and the
// watchdog. The final line is due one grace period after the first stop request, and one grace
// period after the session cap at the latest.
void guardFinalLine(FinalLineDeadlines deadlines);

// A stop was requested: end-of-file, the cap, capture that ended, a stop signal. Any thread.
void stopRequested();

// The session's own end: its final line is written, and the process exits with `status`. When
// another road claimed the final line first, waits for that line and exits with its status.
[[noreturn]] void exitAfterFinalLine(int status);

// Points standard error at /dev/null, so that no library's message reaches the host. Builds for
// the sanitizers keep it, so that their reports are seen.
void silenceStandardError();

}  // namespace quillmate
