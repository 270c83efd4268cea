// The session's two-stage shutdown: every way a session ends, and what each leaves behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/session_harness.h"

namespace quillmate::testing {
namespace {

using scripted::Scenario;

Scenario with(std::vector<scripted::ScriptedResult> results) {
  Scenario scenario;
  scenario.results = std::move(results);
  return scenario;
}

// Capture that ends by itself `at` each of these times after the engine started.
Scenario endsCapture(Scenario scenario, std::vector<std::chrono::milliseconds> at) {
  scenario.captureEnds = std::move(at);
  return scenario;
}

Scenario microphoneNeverAnswers() {
  Scenario scenario;
  scenario.microphone.status = 0;
  scenario.microphone.answerAfter = 10min;
  return scenario;
}

const Line kStarting{"starting", "", ""};
const Line kListening{"listening", "", ""};
Line listening(std::string transcript) { return {"listening", std::move(transcript), ""}; }
Line done(std::string transcript) { return {"done", std::move(transcript), ""}; }

struct Case {
  const char* name;
  Scenario scenario;
  std::chrono::milliseconds endOfFile;  // 0: standard input never closes
  std::chrono::milliseconds cap;
  std::vector<Line> lines;
  int exitStatus;
  std::chrono::milliseconds endedAt;
};

TEST(Shutdown, EveryRoadEndsWithOneFinalLineAtTheRightTime) {
  const Case cases[] = {
      {"end of file while the microphone prompt is open",
       microphoneNeverAnswers(),
       1500ms,
       60s,
       {kStarting, done("")},
       0,
       1500ms},
      {"the cap while the microphone prompt is open",
       microphoneNeverAnswers(),
       0ms,
       60s,
       {kStarting, done("")},
       0,
       60s},
      {"stop while listening, the final result arrives within the grace period",
       with({partialAt(100ms, "go"), afterEnd(finalAt(300ms, "go forward"))}),
       2s,
       60s,
       {kStarting, kListening, listening("go"), listening("go forward"), done("go forward")},
       0,
       2300ms},
      {"stop while listening, nothing arrives: done with the last partial after the grace period",
       with({partialAt(100ms, "go")}),
       2s,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       3s},
      {"a partial result during the grace period replaces the transcript",
       with({partialAt(100ms, "go"), afterEnd(partialAt(200ms, "go on"))}),
       2s,
       60s,
       {kStarting, kListening, listening("go"), listening("go on"), done("go on")},
       0,
       3s},
      {"a recognition error during the grace period ends as done",
       with({partialAt(100ms, "go"), afterEnd(errorAt(200ms, "Speech stopped."))}),
       2s,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       2200ms},
      {"the cap during a grace period that end of file began keeps the first deadline",
       with({partialAt(100ms, "go")}),
       59500ms,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       60500ms},
      {"end of file during a grace period that the cap began keeps the first deadline",
       with({partialAt(100ms, "go")}),
       10400ms,
       10s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       11s},
      {"the cap alone stops a session that never hears a final result",
       with({partialAt(100ms, "go")}),
       0ms,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       61s},
      {"capture ends by itself while listening: the graceful road, as at end of file",
       endsCapture(with({partialAt(100ms, "go"), afterEnd(finalAt(300ms, "go forward"))}), {500ms}),
       0ms,
       60s,
       {kStarting, kListening, listening("go"), listening("go forward"), done("go forward")},
       0,
       800ms},
      {"capture ends by itself with nothing more to come: done after the grace period",
       endsCapture(with({partialAt(100ms, "go")}), {500ms}),
       0ms,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       1500ms},
      {"capture ends by itself twice: the second is ignored and the deadline kept",
       endsCapture(with({partialAt(100ms, "go")}), {500ms, 900ms}),
       0ms,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       1500ms},
      {"capture ends by itself during the grace period that end of file began",
       endsCapture(with({partialAt(100ms, "go")}), {2500ms}),
       2s,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       3s},
      {"capture ends by itself after a final result ended the session",
       endsCapture(with({finalAt(200ms, "go")}), {500ms}),
       0ms,
       60s,
       {kStarting, kListening, listening("go"), done("go")},
       0,
       200ms},
      {"a recognition error while listening: the error line carries the latest transcript",
       with({partialAt(100ms, "go"), errorAt(200ms, "Speech stopped.")}),
       0ms,
       60s,
       {kStarting,
        kListening,
        listening("go"),
        {"error", "go", "On-device dictation: Speech stopped."}},
       1,
       200ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness harness(c.scenario);
    harness.startWithCap(c.cap);
    if (c.endOfFile > 0ms) harness.endOfFileAt(c.endOfFile);
    harness.runFor(15min);
    EXPECT_EQ(harness.lines(), c.lines);
    EXPECT_EQ(harness.exits, std::vector<int>{c.exitStatus});
    EXPECT_EQ(harness.endedAt, c.endedAt);
  }
}

TEST(Shutdown, AnErrorHandedToFinishDuringTheGracePeriodEndsTheSessionAtOnce) {
  SessionHarness harness(with({partialAt(100ms, "go")}));
  harness.startWithCap();
  harness.endOfFileAt(2s);
  harness.runFor(2200ms);
  harness.session->finish("Something failed.");
  harness.runFor(5s);
  EXPECT_EQ(harness.lines(),
            (std::vector<Line>{
                kStarting, kListening, listening("go"), {"error", "go", "Something failed."}}));
  EXPECT_EQ(harness.exits, std::vector<int>{1});
  EXPECT_EQ(harness.endedAt, 2200ms);
}

TEST(Shutdown, APresentButEmptyErrorMessageStillEndsInError) {
  SessionHarness harness(microphoneNeverAnswers());
  harness.startWithCap();
  harness.session->complete("");
  EXPECT_EQ(harness.lines(), (std::vector<Line>{kStarting, {"error", "", ""}}));
  EXPECT_EQ(harness.exits, std::vector<int>{1});
}

TEST(Shutdown, CompleteAfterTheEndDoesNothingAtAll) {
  SessionHarness harness(with({partialAt(100ms, "go")}));
  harness.startWithCap();
  harness.runFor(1s);
  harness.session->complete();
  auto callsAtTheEnd = harness.calls();
  harness.session->complete("late");
  harness.session->finish();
  harness.session->finish("late");
  harness.session->listen();
  harness.runFor(5min);
  EXPECT_EQ(harness.calls(), callsAtTheEnd);
  EXPECT_EQ(harness.lines(),
            (std::vector<Line>{kStarting, kListening, listening("go"), done("go")}));
  EXPECT_EQ(harness.exits, std::vector<int>{0});
}

TEST(Shutdown, TheGracefulRoadStopsTwiceEndsAudioTwiceAndCancelsTheFinishedTask) {
  SessionHarness harness(with({afterEnd(finalAt(100ms, "go"))}));
  harness.startWithCap();
  harness.endOfFileAt(1s);
  harness.runFor(5s);
  auto calls = harness.calls();
  auto from = std::find(calls.begin(), calls.end(), "startAndReturnError");
  ASSERT_NE(from, calls.end());
  EXPECT_EQ(std::vector<std::string>(from + 1, calls.end()),
            (std::vector<std::string>{"stop", "inputNode", "removeTapOnBus 0", "endAudio", "stop",
                                      "endAudio", "cancel"}));
}

TEST(Shutdown, ASessionThatNeverTappedNeverFetchesTheInputNode) {
  Scenario denied;
  denied.microphone.status = 2;
  Scenario eofFirst = microphoneNeverAnswers();
  for (const Scenario& scenario : {denied, eofFirst}) {
    SessionHarness harness(scenario);
    harness.startWithCap();
    harness.endOfFileAt(1s);
    harness.runFor(5s);
    EXPECT_EQ(only(harness.calls(), "inputNode"), std::vector<std::string>{});
    EXPECT_FALSE(only(harness.calls(), "stop").empty());
    EXPECT_EQ(harness.exits.size(), 1u);
  }
}

TEST(Shutdown, TheFirstArgumentNamesTheLocaleUnchanged) {
  const struct {
    std::vector<std::string> arguments;
    std::string construction;
  } cases[] = {
      {{"quillmate-dictate"}, "initWithLocale en_US"},
      {{"quillmate-dictate", "fr-FR", "de-DE"}, "initWithLocale fr-FR"},
      {{"quillmate-dictate", " en-US "}, "initWithLocale  en-US "},
      {{"quillmate-dictate", ""}, "initWithLocale "},
  };
  for (const auto& c : cases) {
    SessionHarness harness({}, c.arguments);
    EXPECT_EQ(only(harness.calls(), "initWithLocale"), std::vector<std::string>{c.construction});
  }
}

}  // namespace
}  // namespace quillmate::testing
