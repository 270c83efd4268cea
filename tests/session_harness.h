// One session on the scripted platform and the virtual-time main queue, with its output, its
// exits and its platform calls kept for the test to compare.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/scripted/scripted_platform.h"
#include "platform/scripted/virtual_main_queue.h"
#include "session/dictation.h"
#include "tests/status_lines.h"

namespace quillmate::testing {

using namespace std::chrono_literals;

class SessionHarness {
 public:
  explicit SessionHarness(scripted::Scenario scenario = {},
                          std::vector<std::string> arguments = {"quillmate-dictate", "en-US"});
  ~SessionHarness();

  // Process entry's part, on virtual time: the session cap and end-of-file both call `finish`.
  void startWithCap(std::chrono::milliseconds cap = 60s);
  void endOfFileAt(std::chrono::milliseconds at);
  void runFor(std::chrono::milliseconds span);

  // Status lines written so far. Ends the capture of standard output: call once, at the end.
  std::vector<Line> lines();
  std::vector<std::string> calls() { return platform.log().calls(); }
  std::chrono::milliseconds now();

  scripted::VirtualMainQueue queue;
  scripted::ScriptedPlatform platform;
  std::shared_ptr<Dictation> session;
  std::vector<int> exits;                 // every exit status the session asked for
  std::chrono::milliseconds endedAt{-1};  // virtual time of the first exit
  std::function<void()> exitHook;         // runs at every exit, after it is recorded

 private:
  bool capturing = true;
};

// Calls of the result handler, counted from the task's creation; afterEnd counts from endAudio.
scripted::ScriptedResult partialAt(std::chrono::milliseconds at, std::string transcript);
scripted::ScriptedResult finalAt(std::chrono::milliseconds at, std::string transcript);
scripted::ScriptedResult errorAt(std::chrono::milliseconds at, std::string description);
scripted::ScriptedResult afterEnd(scripted::ScriptedResult result);

// The calls of `calls` that name `operation`, in order, with their arguments.
std::vector<std::string> only(const std::vector<std::string>& calls, const std::string& operation);

}  // namespace quillmate::testing
