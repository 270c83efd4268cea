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
  };
  for (const auto& c : cases) {
    auto parsed = parseScenario(c.json);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.json;
    EXPECT_EQ(std::get<std::string>(parsed), c.problem);
  }
}

}  // namespace
}  // namespace quillmate::scripted
