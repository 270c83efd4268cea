// Process entry and lifetime, shared by every executable of the helper.
#pragma once

#include <chrono>
#include <memory>

#include "platform/main_queue.h"
#include "platform/platform.h"
#include "session/dictation.h"

namespace quillmate {

// The one session of the process: assigned once, first thing at process entry, and never
// cleared. Never destroyed either, so that exiting from inside the main queue cannot tear the
// session down under work that is still running.
extern std::shared_ptr<Dictation>& session;

// How long after start-up the session is asked to stop, whatever it is doing.
inline constexpr std::chrono::milliseconds kSessionCap{60000};

struct ProcessSettings {
  std::chrono::milliseconds sessionCap = kSessionCap;
  std::chrono::milliseconds gracePeriod = kGracePeriod;
};

// Gives each standard descriptor (input, output, error) that the host left closed to
// /dev/null. Called first thing at process entry: otherwise the first file the process opens
// takes that number, and the stdin watcher would read, or status lines go into, that file.
void openStandardDescriptors();

// The host's stop, however it came (the end of standard input, a stop signal, the session
// cap): marks the stop request for the final-line guard and posts `finish` with no error to the
// main queue. Any thread.
void requestStop(MainQueue& mainQueue);

// Constructs the session, arms the session cap, starts the stdin watcher, starts the session
// and gives the main thread to the main queue. The process ends only inside `complete`.
[[noreturn]] void runProcess(int argc, char** argv, Platform& platform, MainQueue& mainQueue,
                             ProcessSettings settings = {});

}  // namespace quillmate
