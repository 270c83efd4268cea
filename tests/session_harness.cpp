#include "tests/session_harness.h"

#include <gtest/gtest.h>

namespace quillmate::testing {

SessionHarness::SessionHarness(scripted::Scenario scenario, std::vector<std::string> arguments)
    : platform(std::move(scenario), scripted::virtualDelivery(queue), queue) {
  ::testing::internal::CaptureStdout();
  session = std::make_shared<Dictation>(
      SessionContext{platform, queue, std::move(arguments), kGracePeriod, [this](int status) {
                       if (exits.empty()) endedAt = now();
                       exits.push_back(status);
                       if (exitHook) exitHook();
                     }});
}

SessionHarness::~SessionHarness() {
  // Stops the scripted engine's audio thread if a test left the session running.
  if (!session->ended) {
    if (!capturing) ::testing::internal::CaptureStdout();
    capturing = true;
    session->complete();
  }
  if (capturing) ::testing::internal::GetCapturedStdout();
}

void SessionHarness::startWithCap(std::chrono::milliseconds cap) {
  queue.postAfter(cap, [this] { session->finish(); });
  session->start();
}

void SessionHarness::endOfFileAt(std::chrono::milliseconds at) {
  queue.postAfter(at - now(), [this] { session->finish(); });
}

void SessionHarness::runFor(std::chrono::milliseconds span) { queue.runFor(span); }

std::vector<Line> SessionHarness::lines() {
  capturing = false;
  return parseLines(::testing::internal::GetCapturedStdout());
}

std::chrono::milliseconds SessionHarness::now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(queue.now());
}

scripted::ScriptedResult partialAt(std::chrono::milliseconds at, std::string transcript) {
  return {scripted::ScriptedResult::From::taskCreated, at, RecognitionResult{{transcript}, false},
          std::nullopt};
}

scripted::ScriptedResult finalAt(std::chrono::milliseconds at, std::string transcript) {
  return {scripted::ScriptedResult::From::taskCreated, at, RecognitionResult{{transcript}, true},
          std::nullopt};
}

scripted::ScriptedResult errorAt(std::chrono::milliseconds at, std::string description) {
  return {scripted::ScriptedResult::From::taskCreated, at, std::nullopt, Error{description}};
}

scripted::ScriptedResult afterEnd(scripted::ScriptedResult result) {
  result.from = scripted::ScriptedResult::From::audioEnded;
  return result;
}

std::vector<std::string> only(const std::vector<std::string>& calls, const std::string& operation) {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call == operation || call.rfind(operation + " ", 0) == 0) found.push_back(call);
  }
  return found;
}

}  // namespace quillmate::testing
