// The scripted platform's scenario files: the defaults are the typical road, and a mistake in
// a scenario is named rather than guessed around.
#include "platform/scripted/scenario.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillmate::scripted {
namespace {

TEST(Scenario, EveryKeyIsOptionalAndTheDefaultsAreTheTypicalRoad) {
  auto parsed = parseScenario("{}");
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed));
  const Scenario& s = std::get<Scenario>(parsed);
  EXPECT_TRUE(s.recognizerExists && s.available && s.onDevice);
  EXPECT_EQ(s.microphone.status, 3);
  EXPECT_EQ(s.speech.status, 3);
  EXPECT_EQ(s.input.sampleRate, 48000.0);
  EXPECT_EQ(s.input.channelCount, 1u);
  EXPECT_FALSE(s.engineStartError);
  EXPECT_TRUE(s.results.empty());
  EXPECT_EQ(s.cap, std::nullopt);  // the product's own
  EXPECT_EQ(s.grace, std::nullopt);
}

TEST(Scenario, ReadsEveryKey) {
  auto parsed = parseScenario(R"({
    "recognizer": {"exists": true, "available": false, "onDevice": false},
    "microphone": {"status": 0, "granted": false, "answerAfterMs": 250},
    "speech": {"status": -5, "answerAfterMs": 10},
    "input": {"sampleRate": "nan", "channelCount": 2},
    "engineStartError": "busy",
    "captureEndsAfterMs": [5, 9],
    "results": [{"afterMs": 5, "transcript": "go", "isFinal": true, "error": "late"},
                {"afterEndAudioMs": 7}],
    "capMs": 900, "graceMs": 20})");
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed)) << std::get<std::string>(parsed);
  const Scenario& s = std::get<Scenario>(parsed);
  EXPECT_FALSE(s.available);
  EXPECT_FALSE(s.onDevice);
  EXPECT_EQ(s.microphone.status, 0);
  EXPECT_FALSE(s.microphone.granted);
  EXPECT_EQ(s.microphone.answerAfter.count(), 250);
  EXPECT_EQ(s.speech.status, -5);
  EXPECT_TRUE(std::isnan(s.input.sampleRate));
  EXPECT_EQ(s.input.channelCount, 2u);
  EXPECT_EQ(s.engineStartError, "busy");
  EXPECT_EQ(s.captureEnds, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(5),
                                                                   std::chrono::milliseconds(9)}));
  ASSERT_EQ(s.results.size(), 2u);
  EXPECT_EQ(s.results[0].result->bestTranscription.formattedString, "go");
  EXPECT_TRUE(s.results[0].result->isFinal);
  EXPECT_EQ(s.results[0].error->localizedDescription, "late");
  EXPECT_EQ(s.results[1].from, ScriptedResult::From::audioEnded);
  EXPECT_FALSE(s.results[1].result || s.results[1].error);
  EXPECT_EQ(s.cap, std::chrono::milliseconds(900));
  EXPECT_EQ(s.grace, std::chrono::milliseconds(20));
  EXPECT_FALSE(s.segmented || s.configurationChanges || s.engineKeepsRunning);
}

TEST(Scenario, ReadsTheKeysOfSegmentsAndRestarts) {
  auto parsed = parseScenario(R"({
    "recognizer": {"segmented": true},
    "results": [{"task": 2, "afterMs": 5, "error": "No speech detected", "nothingSaid": true}],
    "configurationChangesAfterMs": [100, 300], "engineKeepsRunning": true,
    "restartFailures": 2})");
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed)) << std::get<std::string>(parsed);
  const Scenario& s = std::get<Scenario>(parsed);
  EXPECT_TRUE(s.segmented);
  ASSERT_EQ(s.results.size(), 1u);
  EXPECT_EQ(s.results[0].task, 2u);
  EXPECT_TRUE(s.results[0].error->nothingSaid);
  EXPECT_EQ(s.configurationChanges,
            (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(100),
                                                    std::chrono::milliseconds(300)}));
  EXPECT_TRUE(s.engineKeepsRunning);
  EXPECT_EQ(s.restartFailures, 2);
  EXPECT_TRUE(s.captureLayer);
}

TEST(Scenario, ReadsTheKeysOfHeadsetsAndQuietTaps) {
  auto parsed = parseScenario(R"({
    "results": [{"afterMs": 5, "transcript": "Buy milk", "utteranceEnded": true}],
    "startFailures": 3, "restartFailuresForMs": 2000, "buffersStopAfterMs": 300,
    "buffersNeverArrive": true, "inputUnusableForMs": 700,
    "inputAfterChange": {"sampleRate": 16000, "channelCount": 2}})");
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed)) << std::get<std::string>(parsed);
  const Scenario& s = std::get<Scenario>(parsed);
  EXPECT_TRUE(s.results.at(0).result->closesUtterance);
  EXPECT_EQ(s.startFailures, 3);
  EXPECT_EQ(s.restartFailuresFor, std::chrono::milliseconds(2000));
  EXPECT_EQ(s.buffersStopAfter, std::chrono::milliseconds(300));
  EXPECT_TRUE(s.buffersNeverArrive);
  EXPECT_EQ(s.inputUnusableFor, std::chrono::milliseconds(700));
  ASSERT_TRUE(s.inputAfterChange);
  EXPECT_EQ(s.inputAfterChange->sampleRate, 16000.0);
  EXPECT_EQ(s.inputAfterChange->channelCount, 2u);
  // Each capture key alone puts the capture layer under the session; others do not.
  for (const char* key :
       {"configurationChangesAfterMs\": [", "restartFailures\": 0", "restartFailuresForMs\": 0",
        "startFailures\": 0", "buffersStopAfterMs\": 0", "buffersNeverArrive\": false",
        "inputUnusableForMs\": 0", "inputAfterChange\": {"}) {
    std::string json = std::string("{\"") + key;
    json += json.back() == '[' ? "]}" : json.back() == '{' ? "}}" : "}";
    auto one = parseScenario(json);
    ASSERT_TRUE(std::holds_alternative<Scenario>(one)) << json;
    EXPECT_TRUE(std::get<Scenario>(one).captureLayer) << json;
  }
  EXPECT_FALSE(std::get<Scenario>(parseScenario(R"({"engineStartError": "x"})")).captureLayer);
}

TEST(Scenario, NamesWhatIsWrong) {
  const struct {
    const char* json;
    const char* problem;
  } cases[] = {
      {"[", "the scenario is not valid JSON"},
      {"[]", "the scenario must be a JSON object"},
      {R"({"microphone": 3})", "\"microphone\" must be an object"},
      {R"({"speech": {"status": "yes"}})", "\"status\" must be an integer"},
      {R"({"input": {"sampleRate": "fast"}})", "\"sampleRate\" must be a number or \"nan\""},
      {R"({"results": [{"transcript": "go"}]})",
       "each result needs exactly one of \"afterMs\" and \"afterEndAudioMs\""},
      {R"({"results": [{"afterMs": 1, "isFinal": true}]})", "\"isFinal\" needs a \"transcript\""},
      {R"({"capMs": -1})", "\"capMs\" must not be negative"},
      {R"({"captureEndsAfterMs": [-1]})",
       "each entry of \"captureEndsAfterMs\" must be a whole number of ms"},
      {R"({"configurationChangesAfterMs": 5})", "\"configurationChangesAfterMs\" must be an array"},
      {R"({"results": [{"afterMs": 1, "nothingSaid": true}]})",
       "\"nothingSaid\" needs an \"error\""},
      {R"({"results": [{"afterMs": 1, "task": -1}]})", "\"task\" must not be negative"},
      {R"({"restartFailures": -1})", "\"restartFailures\" must not be negative"},
      {R"({"startFailures": -2})", "\"startFailures\" must not be negative"},
      {R"({"results": [{"afterMs": 1, "utteranceEnded": true}]})",
       "\"utteranceEnded\" needs a \"transcript\""},
      {R"({"inputAfterChange": 16000})", "\"inputAfterChange\" must be an object"},
      {R"({"buffersStopAfterMs": -5})", "\"buffersStopAfterMs\" must not be negative"},
  };
  for (const auto& c : cases) {
    auto parsed = parseScenario(c.json);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.json;
    EXPECT_EQ(std::get<std::string>(parsed), c.problem);
  }
}

}  // namespace
}  // namespace quillmate::scripted
