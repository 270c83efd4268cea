#include "output/status_line.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "output/characters.h"
#include "tests/status_lines.h"

namespace quillmate {
namespace {

using testing::Line;
using testing::parseLines;

std::string repeat(std::string_view character, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += character;
  return text;
}

struct CutCase {
  const char* name;
  std::string character;  // one user-perceived character
};

const CutCase kCharacters[] = {
    {"ascii", "a"},
    {"letter with combining marks", "e\u0301\u0323"},
    {"flag", "\U0001F1E9\U0001F1EA"},
    {"emoji with skin tone", "\U0001F44B\U0001F3FD"},
    {"zwj family", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"},
    {"hangul syllable from jamo", "\u1100\u1161\u11A8"},
    {"crlf", "\r\n"},
};

TEST(StatusLine, TranscriptKeepsItsFirst4000Characters) {
  for (const CutCase& c : kCharacters) {
    SCOPED_TRACE(c.name);
    std::string exact = repeat(c.character, 4000);
    EXPECT_EQ(parseLines(statusLine("listening", exact, "")),
              (std::vector<Line>{{"listening", exact, ""}}));
    EXPECT_EQ(parseLines(statusLine("listening", exact + c.character, "")),
              (std::vector<Line>{{"listening", exact, ""}}));
  }
}

TEST(StatusLine, ErrorKeepsItsFirst1000Characters) {
  for (const CutCase& c : kCharacters) {
    SCOPED_TRACE(c.name);
    std::string exact = repeat(c.character, 1000);
    EXPECT_EQ(parseLines(statusLine("error", "", exact + c.character + c.character)),
              (std::vector<Line>{{"error", "", exact}}));
  }
}

TEST(StatusLine, StatusIsNeverCut) {
  std::string status = repeat("s", 5000);
  EXPECT_EQ(parseLines(statusLine(status, "", "")), (std::vector<Line>{{status, "", ""}}));
}

TEST(StatusLine, CutNeverSplitsACharacterAtTheLimit) {
  // 3999 plain letters, then a family of seven code points: it is the 4000th character.
  std::string family = kCharacters[4].character;
  std::string text = repeat("a", 3999) + family + "b";
  EXPECT_EQ(firstCharacters(text, 4000), repeat("a", 3999) + family);
  EXPECT_EQ(firstCharacters(text, 3999), repeat("a", 3999));
}

TEST(StatusLine, EscapedCharactersStayOnOneLine) {
  std::string awkward = "say \"hi\"\\ then\nnew line\r\ttab \x01\x1f end";
  std::string line = statusLine("listening", awkward, awkward);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_EQ(parseLines(line), (std::vector<Line>{{"listening", awkward, awkward}}));
}

TEST(StatusLine, IsCompactJson) {
  EXPECT_EQ(nlohmann::json::parse(statusLine("starting", "", "")).dump() + "\n",
            statusLine("starting", "", ""));
}

TEST(StatusLine, TextInAnyScriptReadsBackUnchanged) {
  for (const char* text :
       {"日本語の文章", "النص العربي", "Ελληνικά", "עברית", "हिन्दी", "🙂👍🏿"}) {
    EXPECT_EQ(parseLines(statusLine("listening", text, text)),
              (std::vector<Line>{{"listening", text, text}}));
  }
}

TEST(StatusLine, InvalidUtf8BecomesReplacementCharactersInsteadOfLosingTheLine) {
  const std::string replacement = "\uFFFD";
  struct Case {
    const char* name;
    std::string bytes;
    std::string written;
  } cases[] = {
      {"stray continuation byte", "a\x80z", "a" + replacement + "z"},
      {"invalid byte", "\xff", replacement},
      {"truncated arrow", "x\xe2\x86", "x" + replacement + replacement},
      {"overlong slash", "\xc0\xaf", replacement + replacement},
      {"surrogate", "\xed\xa0\x80", replacement + replacement + replacement},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parseLines(statusLine(c.bytes, c.bytes, c.bytes)),
              (std::vector<Line>{{c.written, c.written, c.written}}));
  }
}

TEST(StatusLine, EmitWritesOneFlushedLineToStandardOutput) {
  ::testing::internal::CaptureStdout();
  emit("starting");
  emit("listening", "hello");
  emit("error", "hello", "It broke.");
  EXPECT_EQ(
      parseLines(::testing::internal::GetCapturedStdout()),
      (std::vector<Line>{
          {"starting", "", ""}, {"listening", "hello", ""}, {"error", "hello", "It broke."}}));
}

}  // namespace
}  // namespace quillmate
