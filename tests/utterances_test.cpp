// Where a dictation is split into utterances, and what the host sees of them.
#include "platform/linux/utterances.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillmate::linux_platform {
namespace {

// What the detector said after each step, with the samples of that step.
struct Step {
  bool inSpeech;
  uint64_t samples;
  bool closes;
};

TEST(Utterances, ClosesAtAPauseAfterSpeechOrAtTheLongestUtterance) {
  const Utterances::Limits limits{1000, 300};
  const struct {
    const char* name;
    std::vector<Step> steps;
    bool fullSearchAtEnd;  // after the last step
  } cases[] = {
      {"silence alone never closes, and needs no search",
       {{false, 500, false}, {false, 500, false}},
       false},
      {"speech, then the detector's pause",
       {{false, 100, false}, {true, 200, false}, {false, 100, true}},
       false},
      {"speech still open at the end, short", {{true, 200, false}, {true, 100, false}}, true},
      {"speech still open at the end, longer than the full search allows",
       {{true, 200, false}, {true, 101, false}},
       false},
      {"a pause-free utterance closes at the longest",
       {{true, 600, false}, {true, 400, true}},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Utterances utterances(limits);
    for (const Step& step : c.steps) {
      bool closes = utterances.closes(step.inSpeech, step.samples);
      EXPECT_EQ(closes, step.closes);
      if (closes) utterances.commit("words");
    }
    EXPECT_EQ(utterances.fullSearchAtEnd(), c.fullSearchAtEnd);
  }
}

TEST(Utterances, TheTranscriptIsTheCommittedWordsThenTheOpenHypothesis) {
  Utterances utterances({1000, 300});
  EXPECT_EQ(utterances.transcript(""), "");
  EXPECT_EQ(utterances.transcript("buy"), "buy");
  utterances.commit("buy milk");
  EXPECT_EQ(utterances.transcript(""), "buy milk");
  EXPECT_EQ(utterances.transcript("and"), "buy milk and");
  utterances.commit("");  // an utterance that held only noise adds nothing
  utterances.commit("and bread");
  EXPECT_EQ(utterances.transcript("to"), "buy milk and bread to");
  // A new utterance starts its own count of speech.
  EXPECT_FALSE(utterances.closes(true, 900));
  utterances.commit("x");
  EXPECT_FALSE(utterances.closes(true, 900));
}

}  // namespace
}  // namespace quillmate::linux_platform
