// The model's words as dictated text: other languages get capitals only, English its written
// forms (tests/written_forms_test.cpp).
#include "platform/linux/formatting.h"

#include <gtest/gtest.h>

namespace quillmate::linux_platform {
namespace {

TEST(Formatting, CapitalisesTheFirstWordAndThePronounOnly) {
  const struct {
    const char* words;
    const char* formatted;
  } cases[] = {
      {"", ""},
      {"go forward ten meters", "Go forward ten meters"},
      {"i think i'm late", "I think I'm late"},
      {"then i'll call and i've said i'd come", "Then I'll call and I've said I'd come"},
      {"i", "I"},
      {"it is mine in india", "It is mine in india"},  // only the pronoun, never a prefix
      {"hi i'ma i'd've ii", "Hi i'ma i'd've ii"},
      {"'cause we can", "'cause we can"},  // no letter to capitalise in front
      {"already Capital", "Already Capital"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatLikeDictation(c.words), c.formatted) << c.words;
  }
}

TEST(Formatting, EnglishGetsItsWrittenFormsAndOtherLanguagesTheirWords) {
  EXPECT_EQ(formatterFor("en")("go forward ten meters"), "Go forward 10 meters");
  EXPECT_EQ(formatterFor("fr")("ten meters"), "Ten meters");
  EXPECT_EQ(formatterFor("de")("i"), "I");
}

}  // namespace
}  // namespace quillmate::linux_platform
