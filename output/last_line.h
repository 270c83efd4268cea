// The final line the process writes when it ends some other way than through the session: a
// crash, a library's exit, an escaped exception, a main thread that stopped answering.
//
// The host relies on exactly one final line. So every final line, the session's own included,
// first passes one atomic test, and the line for the other roads is kept ready to write from a
// signal handler: preformatted, with no allocation and no lock at write time.
#pragma once

#include <string_view>

namespace quillmate {

inline constexpr std::string_view kStoppedUnexpectedly = "Dictation stopped unexpectedly.";

// Keeps the ready line current: "error" with `transcript` and kStoppedUnexpectedly. Called by
// emit with each status line, on the main thread; does nothing once a final line was claimed.
void prepareLastLine(std::string_view transcript);

// The session's test for its final line: true for the first caller only, which then writes its
// line, the one status line that may follow a claim; `status` is the exit status that goes
// with it. Once any final line is claimed, no other status line is written, on any thread.
bool claimFinalLine(int status);
// Whether the claimed final line, if any, is the session's own.
bool finalLineIsTheSessions();
// Once the claimed line is fully written.
void finalLineWritten();
// The exit status of the claimed final line, or -1 while none is.
int finalLineStatus();

// Async-signal-safe. Claims and writes the ready line unless a final line was claimed already,
// in which case it waits up to a second for that one to be fully written. A status line being
// written on another thread at the claim is let finish first, so that the ready line is last. Gives
// the exit status the process must end with: the one that matches the final line on standard
// output. `wrote`, when given, tells whether this call wrote it.
int writeLastLine(bool* wrote = nullptr);

// Writes one whole status line to standard output with write(2), so that it is flushed at once
// and a later last line knows whether this one was cut short. A failed write drops the line, as
// does a final line claimed already (but for the session's own, once).
void writeStatusLine(std::string_view line);

}  // namespace quillmate
