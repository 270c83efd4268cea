// The words of one native task across its pauses: every rule, one row each.
#include "platform/layers/segment_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmate::layers {
namespace {

struct Result {
  std::string transcript;
  bool closes = false;
};

Result partial(std::string text) { return {std::move(text), false}; }
Result closing(std::string text) { return {std::move(text), true}; }

TEST(SegmentText, APauseNeverTakesWordsAwayAndNoneIsWrittenTwice) {
  struct Case {
    const char* name;
    std::vector<Result> results;
    std::string text;
  };
  const Case cases[] = {
      {"partials replace one another", {partial("buy"), partial("buy milk")}, "buy milk"},
      {"a partial may revise its own words", {partial("by milk"), partial("buy milk")}, "buy milk"},
      // Mended: the text after the last pause was all that was kept.
      {"a result after a closing one opens a new utterance",
       {partial("Buy milk"), closing("Buy milk"), partial("and"), partial("and eggs")},
       "Buy milk and eggs"},
      {"every pause adds its utterance",
       {closing("Buy milk"), closing("and eggs"), closing("then bread"), partial("soon")},
       "Buy milk and eggs then bread soon"},
      {"a recognizer that keeps its text replaces instead of appending",
       {closing("Buy milk"), partial("Buy milk and"), partial("Buy milk and eggs")},
       "Buy milk and eggs"},
      {"kept text that closes again is still written once",
       {closing("Buy milk"), closing("Buy milk and eggs"), partial("Buy milk and eggs then")},
       "Buy milk and eggs then"},
      {"kept text may revise the open words",
       {closing("Buy milk."), partial("Buy milk. And X"), partial("Buy milk. And eggs")},
       "Buy milk. And eggs"},
      {"the closing result repeated adds nothing",
       {closing("Buy milk"), partial("Buy milk")},
       "Buy milk"},
      {"an empty partial removes nothing", {partial("Buy milk"), partial("")}, "Buy milk"},
      {"an empty result after a pause removes nothing",
       {closing("Buy milk"), partial("")},
       "Buy milk"},
      {"an empty closing result closes what was open",
       {partial("Buy milk"), closing(""), partial("eggs")},
       "Buy milk eggs"},
      {"nothing said yet", {}, ""},
      {"Japanese utterances join without a space",
       {closing("牛乳を買う"), partial("卵も")},
       "牛乳を買う卵も"},
      {"Chinese kept text is written once",
       {closing("买牛奶。"), partial("买牛奶。还有鸡蛋")},
       "买牛奶。还有鸡蛋"},
      {"Thai utterances join without a space", {closing("ซื้อนม"), partial("และไข่")}, "ซื้อนมและไข่"},
      {"Korean utterances join with a space",
       {closing("우유 사기"), partial("계란도")},
       "우유 사기 계란도"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SegmentText text;
    for (const Result& result : c.results) text.take(result.transcript, result.closes);
    EXPECT_EQ(text.text(), c.text);
    EXPECT_EQ(text.empty(), c.text.empty());
  }
}

}  // namespace
}  // namespace quillmate::layers
