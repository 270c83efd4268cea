// Capture and recognition: `listen`, the tap and the result handler.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "tests/expected_messages.h"
#include "tests/session_harness.h"

namespace quillmate::testing {
namespace {

using scripted::Scenario;
using scripted::ScriptedResult;

const Line kStarting{"starting", "", ""};
const Line kListening{"listening", "", ""};
Line listening(std::string transcript) { return {"listening", std::move(transcript), ""}; }
Line done(std::string transcript) { return {"done", std::move(transcript), ""}; }

ScriptedResult both(std::chrono::milliseconds at, std::string transcript, bool isFinal,
                    std::string description) {
  ScriptedResult result = isFinal ? finalAt(at, transcript) : partialAt(at, transcript);
  result.error = Error{description};
  return result;
}

struct Case {
  const char* name;
  std::vector<ScriptedResult> results;
  std::vector<Line> lines;
  int exitStatus;
};

TEST(Capture, ResultsAndErrorsBecomeLines) {
  const std::string huge = [] {
    std::string text;
    for (int i = 0; i < 3999; ++i) text += "a";
    return text + "\U0001F44B\U0001F3FD" + "e\u0301" + "tail";
  }();
  const std::string cut = huge.substr(0, 3999) + "\U0001F44B\U0001F3FD";
  const Case cases[] = {
      {"the typical road: partials, then a final result reported twice",
       {partialAt(100ms, "go"), partialAt(200ms, "go forward"),
        finalAt(300ms, "go forward ten meters")},
       {kStarting, kListening, listening("go"), listening("go forward"),
        listening("go forward ten meters"), done("go forward ten meters")},
       0},
      {"a final result with an error ends as done",
       {partialAt(100ms, "go"), both(200ms, "go on", true, "Audio ended.")},
       {kStarting, kListening, listening("go"), listening("go on"), done("go on")},
       0},
      {"a partial result with an error ends as error after its line",
       {both(100ms, "go", false, "Audio ended.")},
       {kStarting,
        kListening,
        listening("go"),
        {"error", "go", "On-device dictation: Audio ended."}},
       1},
      {"a call with neither a result nor an error does nothing",
       {ScriptedResult{ScriptedResult::From::taskCreated, 100ms, std::nullopt, std::nullopt},
        finalAt(200ms, "go")},
       {kStarting, kListening, listening("go"), done("go")},
       0},
      {"a later empty transcript empties the text",
       {partialAt(100ms, "go"), finalAt(200ms, "")},
       {kStarting, kListening, listening("go"), listening(""), done("")},
       0},
      {"a transcript over 4000 characters keeps its first 4000, whole",
       {finalAt(100ms, huge)},
       {kStarting, kListening, listening(cut), done(cut)},
       0},
      {"a result that reaches the main queue after the end writes nothing",
       {finalAt(100ms, "go"), partialAt(200ms, "late"), errorAt(300ms, "late")},
       {kStarting, kListening, listening("go"), done("go")},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario;
    scenario.results = c.results;
    SessionHarness harness(scenario);
    harness.startWithCap();
    harness.runFor(2min);
    EXPECT_EQ(harness.lines(), c.lines);
    EXPECT_EQ(harness.exits, std::vector<int>{c.exitStatus});
  }
}

TEST(Capture, AnUnusableInputFormatEndsTheSessionWithoutATap) {
  const AudioFormat formats[] = {
      {0.0, 1}, {-44100.0, 1}, {std::nan(""), 2}, {48000.0, 0}, {-0.0, 0}};
  for (const AudioFormat& format : formats) {
    SCOPED_TRACE(::testing::Message() << format.sampleRate << " Hz, " << format.channelCount);
    Scenario scenario;
    scenario.input = format;
    SessionHarness harness(scenario);
    harness.startWithCap();
    harness.runFor(5s);
    EXPECT_EQ(harness.lines(),
              (std::vector<Line>{kStarting, {"error", "", expected::noMicrophoneInput}}));
    EXPECT_EQ(harness.exits, std::vector<int>{1});
    EXPECT_EQ(only(harness.calls(), "installTapOnBus"), std::vector<std::string>{});
    EXPECT_EQ(only(harness.calls(), "removeTapOnBus"), std::vector<std::string>{});
    // The task existed before the microphone was looked at, and is cancelled.
    EXPECT_EQ(only(harness.calls(), "cancel").size(), 1u);
  }
}

TEST(Capture, AnEngineThatDoesNotStartEndsTheSessionAndLosesItsTap) {
  Scenario scenario;
  scenario.engineStartError = "The device is busy.";
  SessionHarness harness(scenario);
  harness.startWithCap();
  harness.runFor(5s);
  EXPECT_EQ(harness.lines(),
            (std::vector<Line>{kStarting,
                               {"error", "", "Microphone could not start: The device is busy."}}));
  EXPECT_EQ(harness.exits, std::vector<int>{1});
  EXPECT_EQ(only(harness.calls(), "removeTapOnBus"), std::vector<std::string>{"removeTapOnBus 0"});
  EXPECT_FALSE(harness.session->tapped);
}

TEST(Capture, AWholeDictationMakesThesePlatformCallsInOrder) {
  Scenario scenario;
  scenario.results = {partialAt(100ms, "go"), afterEnd(finalAt(200ms, "go forward"))};
  SessionHarness harness(scenario);
  harness.startWithCap();
  harness.endOfFileAt(1s);
  harness.runFor(5s);
  EXPECT_EQ(harness.calls(), (std::vector<std::string>{"initWithLocale en-US",
                                                       "isAvailable",
                                                       "supportsOnDeviceRecognition",
                                                       "authorizationStatusForMediaType",
                                                       "requestAuthorization",
                                                       "setRequiresOnDeviceRecognition 1",
                                                       "setShouldReportPartialResults 1",
                                                       "setTaskHint 1",
                                                       "recognitionTaskWithRequest",
                                                       "inputNode",
                                                       "outputFormatForBus 0",
                                                       "installTapOnBus 0 1024",
                                                       "prepare",
                                                       "startAndReturnError",
                                                       "stop",
                                                       "inputNode",
                                                       "removeTapOnBus 0",
                                                       "endAudio",
                                                       "stop",
                                                       "endAudio",
                                                       "cancel"}));
  EXPECT_EQ(harness.endedAt, 1200ms);
}

TEST(Capture, ListenWithoutARecognizerOrAfterTheEndWritesNothing) {
  Scenario scenario;
  scenario.recognizerExists = false;
  SessionHarness harness(scenario);
  harness.session->listen();
  EXPECT_EQ(harness.calls(), std::vector<std::string>{"initWithLocale en-US"});
  EXPECT_EQ(harness.lines(), std::vector<Line>{});
  EXPECT_TRUE(harness.exits.empty());
}

TEST(Capture, TheTapAppendsCapturedAudioToTheRequestFromTheAudioThread) {
  SessionHarness harness;
  harness.startWithCap();
  harness.runFor(100ms);
  ASSERT_TRUE(harness.session->tapped);
  // The scripted engine feeds buffers in real time; wait generously for the first ones.
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (harness.platform.framesAppended() < 4096 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_GE(harness.platform.framesAppended(), 4096u);
  harness.session->finish();
  harness.runFor(5s);
  // Once the engine has stopped and the tap is gone, no more audio arrives.
  uint64_t after = harness.platform.framesAppended();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(harness.platform.framesAppended(), after);
}

}  // namespace
}  // namespace quillmate::testing
