#include "platform/linux/written/times_dates.h"

#include <array>
#include <string>

#include "platform/linux/written/numbers.h"

namespace quillmate::linux_platform::written {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// Words after which a bare hour and minutes said with "oh" ("four oh five") are a time rather
// than digits ("room four oh two").
constexpr std::string_view kBeforeTime[] = {"at",    "by",     "until", "till", "before",
                                            "after", "around", "from",  "to",   "between"};
// Words after which "the" and an ordinal are a day of the month: "by the fifteenth".
constexpr std::string_view kBeforeDay[] = {
    "on",       "by",      "until",    "till",     "before", "after",   "from",
    "since",    "through", "due",      "starting", "monday", "tuesday", "wednesday",
    "thursday", "friday",  "saturday", "sunday",   "to",     "and"};
// Words after which a number from 1000 to 2099 is a year: "in two thousand twenty six".
constexpr std::string_view kBeforeYear[] = {"in", "since", "year", "until", "from", "of"};
constexpr std::string_view kBeforeMonth[] = {"in",    "on",      "by",   "until", "till",  "next",
                                             "last",  "early",   "late", "mid",   "since", "before",
                                             "after", "through", "from", "of",    "during"};
// Words after minutes that make the number an amount, not a time: "three fifty dollars".
constexpr std::string_view kAfterAmount[] = {"dollars", "dollar", "bucks",   "cents",
                                             "percent", "point",  "hundred", "thousand",
                                             "million", "billion"};

std::string monthName(int month) { return std::string(kMonthNames[month - 1]); }

// "am", "a.m.", "a m" and "a. m." as the recognizer may spell them; the same for "pm".
std::optional<std::pair<std::string, std::size_t>> meridiem(const Words& words, std::size_t at) {
  const std::string_view word = wordAt(words, at);
  for (std::string_view half : {"a", "p"}) {
    const std::string upper = half == "a" ? "AM" : "PM";
    if (word == std::string(half) + "m" || word == std::string(half) + ".m.") {
      return std::pair{upper, std::size_t{1}};
    }
    const std::string_view next = wordAt(words, at + 1);
    if ((word == half || word == std::string(half) + ".") && (next == "m" || next == "m.")) {
      return std::pair{upper, std::size_t{2}};
    }
  }
  return std::nullopt;
}

struct Clock {
  uint64_t hour = 0;
  std::optional<uint64_t> minute;
  bool saidOh = false;  // "four oh five"
  std::size_t count = 0;
};

// An hour from 1 to 12 said as one word, and minutes when they follow: "ten", "three thirty",
// "seven forty five", "four oh five".
std::optional<Clock> clock(const Words& words, std::size_t at) {
  auto hour = smallNumber(words, at);
  if (!hour || hour->count != 1 || hour->value < 1 || hour->value > 12) return std::nullopt;
  Clock result{hour->value, std::nullopt, false, 1};
  if (wordAt(words, at + 1) == "oh") {
    auto digit = digitValue(wordAt(words, at + 2));
    if (digit && *digit > 0) {
      result.minute = static_cast<uint64_t>(*digit);
      result.saidOh = true;
      result.count = 3;
    }
  } else if (auto minute = smallNumber(words, at + 1);
             minute && minute->value >= 10 && minute->value < 60) {
    result.minute = minute->value;
    result.count += minute->count;
  }
  return result;
}

std::optional<Match> time(const Words& words, std::size_t at) {
  auto said = clock(words, at);
  if (!said) return std::nullopt;
  std::string text = std::to_string(said->hour);
  if (said->minute) text += (*said->minute < 10 ? ":0" : ":") + std::to_string(*said->minute);
  const std::size_t next = at + said->count;
  if (auto half = meridiem(words, next)) {
    return Match{said->count + half->second, {formPiece(text), formPiece(half->first)}};
  }
  if (!said->minute) {
    if (wordAt(words, next) != "o'clock") return std::nullopt;
    return Match{2, {formPiece(text), wordPiece("o'clock")}};
  }
  if (isOneOf(wordAt(words, next), kAfterAmount)) return std::nullopt;
  if (said->saidOh && !isOneOf(wordAt(words, at - 1), kBeforeTime)) return std::nullopt;
  return Match{said->count, {formPiece(text)}};
}

// A year said in two pairs: "twenty twenty seven", "nineteen ninety nine", "twenty oh five",
// "nineteen hundred". The first pair is 10 to 20, so no hour-and-minutes time reads the same
// once times have had their turn.
std::optional<Spoken> pairedYear(const Words& words, std::size_t at) {
  auto century = smallNumber(words, at);
  if (!century || century->count != 1 || century->value < 10 || century->value > 20) {
    return std::nullopt;
  }
  const std::size_t next = at + 1;
  if (wordAt(words, next) == "hundred") return Spoken{century->value * 100, 2};
  if (wordAt(words, next) == "oh") {
    auto digit = digitValue(wordAt(words, next + 1));
    if (!digit || *digit == 0) return std::nullopt;
    return Spoken{century->value * 100 + static_cast<uint64_t>(*digit), 3};
  }
  auto rest = smallNumber(words, next);
  if (!rest || rest->value < 10) return std::nullopt;
  return Spoken{century->value * 100 + rest->value, 1 + rest->count};
}

// A year, in pairs or, after a word that leads to one, as a whole number from 1000 to 2099.
std::optional<Spoken> year(const Words& words, std::size_t at, bool expected) {
  if (auto paired = pairedYear(words, at)) {
    if (isOneOf(wordAt(words, at + paired->count), kAfterAmount)) return std::nullopt;
    return paired;
  }
  if (!expected) return std::nullopt;
  auto whole = cardinal(words, at);
  if (!whole || whole->count < 2 || whole->value < 1000 || whole->value > 2099) return std::nullopt;
  if (isOneOf(wordAt(words, at + whole->count), kAfterAmount)) return std::nullopt;
  return whole;
}

// The day of a month: an ordinal ("eighth", "twenty first") or, for a month that is not also a
// word, a number ("june eight").
std::optional<std::pair<Spoken, bool>> day(const Words& words, std::size_t at, bool plainToo) {
  if (auto ordinal = dayOrdinal(words, at)) return std::pair{*ordinal, true};
  if (!plainToo) return std::nullopt;
  auto plain = smallNumber(words, at);
  if (!plain || plain->value < 1 || plain->value > 31) return std::nullopt;
  return std::pair{*plain, false};
}

// A month with its day and perhaps a year, or with a year alone: "june eighth", "june eighth
// twenty twenty seven", "march twenty twenty six".
std::optional<Match> monthDate(const Words& words, std::size_t at) {
  auto month = monthNumber(wordAt(words, at));
  if (!month) return std::nullopt;
  const std::string name = monthName(*month);
  if (auto alone = year(words, at + 1, false)) {
    return Match{1 + alone->count, {formPiece(name), formPiece(std::to_string(alone->value))}};
  }
  auto said = day(words, at + 1, !monthIsAlsoAWord(wordAt(words, at)));
  if (!said) return std::nullopt;
  const auto [number, ordinal] = *said;
  const std::size_t next = at + 1 + number.count;
  if (auto then = year(words, next, true)) {
    return Match{1 + number.count + then->count,
                 {formPiece(name), formPiece(std::to_string(number.value) + ","),
                  formPiece(std::to_string(then->value))}};
  }
  std::string text = ordinal ? withOrdinalSuffix(number.value) : std::to_string(number.value);
  return Match{1 + number.count, {formPiece(name), formPiece(text)}};
}

// "the" and an ordinal where it is a day: after a word that leads to a date ("by the
// fifteenth") or before "of" and a month ("the first of march").
std::optional<Match> theDay(const Words& words, std::size_t at) {
  if (wordAt(words, at) != "the") return std::nullopt;
  auto ordinal = dayOrdinal(words, at + 1);
  if (!ordinal) return std::nullopt;
  std::size_t next = at + 1 + ordinal->count;
  const bool ofMonth = wordAt(words, next) == "of" && monthNumber(wordAt(words, next + 1));
  if (!ofMonth && !isOneOf(wordAt(words, at - 1), kBeforeDay)) return std::nullopt;
  Match match{next - at, {wordPiece("the"), formPiece(withOrdinalSuffix(ordinal->value))}};
  if (ofMonth) {
    match.pieces.push_back(wordPiece("of"));
    match.pieces.push_back(formPiece(monthName(*monthNumber(wordAt(words, next + 1)))));
    match.count += 2;
    if (auto then = year(words, next + 2, true)) {
      match.pieces.push_back(formPiece(std::to_string(then->value)));
      match.count += then->count;
    }
  }
  return match;
}

}  // namespace

std::optional<int> monthNumber(std::string_view word) {
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (kMonths[i] == word) return static_cast<int>(i) + 1;
  }
  return std::nullopt;
}

bool monthIsAlsoAWord(std::string_view word) { return isOneOf(word, {"may", "march", "august"}); }

bool leadsToMonth(std::string_view word) { return isOneOf(word, kBeforeMonth); }

std::optional<Match> timesAndDates(const Words& words, std::size_t at, const std::vector<Piece>&) {
  if (auto said = time(words, at)) return said;
  if (auto date = monthDate(words, at)) return date;
  if (auto date = theDay(words, at)) return date;
  if (auto said = year(words, at, isOneOf(wordAt(words, at - 1), kBeforeYear))) {
    return Match{said->count, {formPiece(std::to_string(said->value))}};
  }
  return std::nullopt;
}

}  // namespace quillmate::linux_platform::written
