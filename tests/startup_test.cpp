// Start-up: the availability check, "starting" and the permission sequence.
#include <gtest/gtest.h>

#include "session/messages.h"
#include "tests/expected_messages.h"
#include "tests/session_harness.h"

namespace quillmate::testing {
namespace {

using scripted::Scenario;

const Line kStarting{"starting", "", ""};
const Line kListening{"listening", "", ""};
const Line kUnavailable{"error", "", expected::unavailable};
const Line kMicrophone{"error", "", expected::microphone};
const Line kSpeech{"error", "", expected::speechRecognition};

struct Case {
  const char* name;
  std::function<void(Scenario&)> change;
  std::vector<Line> lines;
  std::vector<std::string> permissionCalls;  // the availability and permission calls, in order
};

TEST(Startup, OutcomeOfEveryCheckAndAnswer) {
  const std::vector<std::string> checks = {"isAvailable", "supportsOnDeviceRecognition"};
  auto then = [&](std::vector<std::string> more) {
    auto all = checks;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const Case cases[] = {
      {"no recognizer for the locale: nothing is asked",
       [](Scenario& s) { s.recognizerExists = false; },
       {kUnavailable},
       {}},
      {"recognizer unavailable: on-device support is not asked",
       [](Scenario& s) { s.available = false; },
       {kUnavailable},
       {"isAvailable"}},
      {"no on-device recognition", [](Scenario& s) { s.onDevice = false; }, {kUnavailable}, checks},
      {"microphone restricted",
       [](Scenario& s) { s.microphone.status = 1; },
       {kStarting, kMicrophone},
       then({"authorizationStatusForMediaType"})},
      {"microphone denied",
       [](Scenario& s) { s.microphone.status = 2; },
       {kStarting, kMicrophone},
       then({"authorizationStatusForMediaType"})},
      {"microphone status unknown to us",
       [](Scenario& s) { s.microphone.status = 7; },
       {kStarting, kMicrophone},
       then({"authorizationStatusForMediaType"})},
      {"microphone status negative",
       [](Scenario& s) { s.microphone.status = -1; },
       {kStarting, kMicrophone},
       then({"authorizationStatusForMediaType"})},
      {"microphone prompt refused",
       [](Scenario& s) {
         s.microphone.status = 0;
         s.microphone.granted = false;
       },
       {kStarting, kMicrophone},
       then({"authorizationStatusForMediaType", "requestAccessForMediaType"})},
      {"microphone prompt granted, speech authorized",
       [](Scenario& s) { s.microphone.status = 0; },
       {kStarting, kListening},
       then({"authorizationStatusForMediaType", "requestAccessForMediaType",
             "requestAuthorization"})},
      {"microphone authorized, speech authorized (asked again on every run)",
       [](Scenario&) {},
       {kStarting, kListening},
       then({"authorizationStatusForMediaType", "requestAuthorization"})},
      {"speech not determined counts as a refusal",
       [](Scenario& s) { s.speech.status = 0; },
       {kStarting, kSpeech},
       then({"authorizationStatusForMediaType", "requestAuthorization"})},
      {"speech denied",
       [](Scenario& s) { s.speech.status = 1; },
       {kStarting, kSpeech},
       then({"authorizationStatusForMediaType", "requestAuthorization"})},
      {"speech restricted",
       [](Scenario& s) { s.speech.status = 2; },
       {kStarting, kSpeech},
       then({"authorizationStatusForMediaType", "requestAuthorization"})},
      {"speech status unknown to us",
       [](Scenario& s) { s.speech.status = 4; },
       {kStarting, kSpeech},
       then({"authorizationStatusForMediaType", "requestAuthorization"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario scenario;
    c.change(scenario);
    SessionHarness harness(scenario);
    harness.startWithCap();
    harness.runFor(1s);
    bool listening = harness.exits.empty();
    if (listening) harness.session->finish();
    harness.runFor(5s);
    std::vector<Line> expected = c.lines;
    if (listening) expected.push_back({"done", "", ""});
    EXPECT_EQ(harness.lines(), expected);
    EXPECT_EQ(harness.exits, std::vector<int>{listening ? 0 : 1});
    std::vector<std::string> asked;
    for (const std::string& call : harness.calls()) {
      for (const char* name :
           {"isAvailable", "supportsOnDeviceRecognition", "authorizationStatusForMediaType",
            "requestAccessForMediaType", "requestAuthorization"}) {
        if (call == name) asked.push_back(call);
      }
    }
    EXPECT_EQ(asked, c.permissionCalls);
  }
}

TEST(Startup, AFailureFoundAtOnceEndsTheSessionInsideStart) {
  Scenario scenario;
  scenario.microphone.status = 2;
  SessionHarness harness(scenario);
  harness.session->start();
  EXPECT_EQ(harness.exits, std::vector<int>{1});
}

TEST(Startup, AnAnswerThatArrivesAfterTheEndDoesNothing) {
  for (bool microphonePrompt : {true, false}) {
    SCOPED_TRACE(microphonePrompt ? "microphone answer" : "speech answer");
    Scenario scenario;
    if (microphonePrompt) {
      scenario.microphone.status = 0;
      scenario.microphone.answerAfter = 3s;
    } else {
      scenario.speech.answerAfter = 3s;
    }
    SessionHarness harness(scenario);
    harness.startWithCap();
    harness.endOfFileAt(1s);
    harness.runFor(10s);
    EXPECT_EQ(harness.lines(), (std::vector<Line>{kStarting, {"done", "", ""}}));
    EXPECT_EQ(harness.exits, std::vector<int>{0});
    EXPECT_EQ(only(harness.calls(), "recognitionTaskWithRequest"), std::vector<std::string>{});
    EXPECT_EQ(only(harness.calls(), "requestAuthorization").size(), microphonePrompt ? 0u : 1u);
  }
}

TEST(Startup, TheProductsMessagesAreTheExpectedTextsToTheCharacter) {
  const std::pair<std::string_view, const std::string&> texts[] = {
      {messages::unavailable, expected::unavailable},
      {messages::microphone, expected::microphone},
      {messages::speechRecognition, expected::speechRecognition},
      {messages::noMicrophoneInput, expected::noMicrophoneInput},
      {messages::microphoneCouldNotStart, expected::microphoneCouldNotStart},
      {messages::onDeviceDictation, expected::onDeviceDictation},
  };
  for (const auto& [product, text] : texts) EXPECT_EQ(product, text);
}

}  // namespace
}  // namespace quillmate::testing
