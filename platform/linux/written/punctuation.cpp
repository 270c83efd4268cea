#include "platform/linux/written/punctuation.h"

#include <array>

namespace quillmate::linux_platform::written {
namespace {

struct Spoken {
  std::string_view first;
  std::string_view second;  // empty for a mark said in one word
  std::string_view mark;
  bool endsSentence;
};

constexpr std::array<Spoken, 9> kMarks = {{
    {"comma", "", ",", false},
    {"period", "", ".", true},
    {"full", "stop", ".", true},
    {"question", "mark", "?", true},
    {"exclamation", "point", "!", true},
    {"exclamation", "mark", "!", true},
    {"colon", "", ":", false},
    {"semicolon", "", ";", false},
    {"semi", "colon", ";", false},
}};

// Words that make the mark's word a noun: "a comma", "this period", "the question mark".
constexpr std::string_view kBeforeNoun[] = {"a",     "an",    "the", "this", "that", "each",
                                            "every", "per",   "my",  "your", "his",  "her",
                                            "our",   "their", "its", "no",   "any",  "which"};
// Words that make "period" a span of time: "the grace period", "a trial period".
constexpr std::string_view kBeforeTimePeriod[] = {
    "grace",     "trial",      "time",         "pay",        "billing", "waiting",    "notice",
    "reporting", "probation",  "probationary", "cooling",    "free",    "holiday",    "sales",
    "payment",   "lock",       "rest",         "study",      "test",    "transition", "warranty",
    "review",    "return",     "renewal",      "blackout",   "quiet",   "school",     "class",
    "open",      "enrollment", "evaluation",   "accounting", "fiscal",  "budget",     "same"};

}  // namespace

std::optional<Match> punctuation(const Words& words, std::size_t at,
                                 const std::vector<Piece>& written) {
  if (written.empty() || written.back().mark) return std::nullopt;
  const std::string_view before = wordAt(words, at - 1);
  if (isOneOf(before, kBeforeNoun)) return std::nullopt;
  for (const Spoken& spoken : kMarks) {
    if (wordAt(words, at) != spoken.first) continue;
    const bool twoWords = !spoken.second.empty();
    if (twoWords && wordAt(words, at + 1) != spoken.second) continue;
    if (spoken.first == "period" && isOneOf(before, kBeforeTimePeriod)) return std::nullopt;
    Piece mark = formPiece(std::string(spoken.mark));
    mark.mark = true;
    mark.endsSentence = spoken.endsSentence;
    return Match{twoWords ? 2u : 1u, {mark}};
  }
  return std::nullopt;
}

}  // namespace quillmate::linux_platform::written
