#include "platform/linux/written/numbers.h"

#include <array>
#include <limits>

namespace quillmate::linux_platform::written {
namespace {

constexpr std::array<std::string_view, 10> kDigits = {"zero", "one", "two",   "three", "four",
                                                      "five", "six", "seven", "eight", "nine"};
constexpr std::array<std::string_view, 10> kTeens = {"ten",      "eleven",  "twelve",  "thirteen",
                                                     "fourteen", "fifteen", "sixteen", "seventeen",
                                                     "eighteen", "nineteen"};
// Twenty to ninety.
constexpr std::array<std::string_view, 8> kTens = {"twenty", "thirty",  "forty",  "fifty",
                                                   "sixty",  "seventy", "eighty", "ninety"};
struct Scale {
  std::string_view word;
  uint64_t value;
};
constexpr std::array<Scale, 3> kScales = {
    {{"thousand", 1'000}, {"million", 1'000'000}, {"billion", 1'000'000'000}}};

// Days of the month said as ordinals: "first" to "nineteenth", then "twentieth" and "thirtieth";
// "twenty first" is "twenty" before "first".
constexpr std::array<std::string_view, 19> kOrdinals = {
    "first",     "second",    "third",       "fourth",     "fifth",     "sixth",      "seventh",
    "eighth",    "ninth",     "tenth",       "eleventh",   "twelfth",   "thirteenth", "fourteenth",
    "fifteenth", "sixteenth", "seventeenth", "eighteenth", "nineteenth"};

// Words before a number that names something rather than counting it: no thousands separator.
constexpr std::string_view kLabels[] = {
    "version", "release",   "build",  "room",  "suite",   "number", "extension", "flight",
    "gate",    "route",     "ticket", "issue", "invoice", "order",  "model",     "pin",
    "code",    "apartment", "unit",   "bug",   "case",    "step",   "chapter",   "page"};
constexpr std::string_view kDollars[] = {"dollars", "dollar", "bucks"};
constexpr std::string_view kCents[] = {"cents", "cent"};

template <std::size_t N>
std::optional<int> indexIn(const std::array<std::string_view, N>& table, std::string_view word) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i] == word) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<uint64_t> scaleValue(std::string_view word) {
  for (const Scale& scale : kScales) {
    if (scale.word == word) return scale.value;
  }
  return std::nullopt;
}

// 0 to 999: a small number, or one of 1 to 99 before "hundred" with an optional rest
// ("three hundred", "twelve hundred", "two hundred and five").
std::optional<Spoken> hundreds(const Words& words, std::size_t at) {
  std::optional<Spoken> small = smallNumber(words, at);
  if (!small || small->value == 0 || wordAt(words, at + small->count) != "hundred") return small;
  Spoken result{small->value * 100, small->count + 1};
  const std::size_t next = at + result.count;
  const bool joined = wordAt(words, next) == "and";
  if (auto rest = smallNumber(words, next + joined); rest && rest->value > 0) {
    result.value += rest->value;
    result.count += joined + rest->count;
  }
  return result;
}

// A digit said after "point", "oh" for zero included.
std::optional<int> fractionDigit(std::string_view word) {
  return word == "oh" ? std::optional<int>(0) : digitValue(word);
}

// The digits after "point" at `at`: said one by one ("point oh five") or as one number from 10
// to 99 ("point twenty five").
std::optional<std::pair<std::string, std::size_t>> fraction(const Words& words, std::size_t at) {
  if (wordAt(words, at) != "point") return std::nullopt;
  std::string digits;
  std::size_t count = 1;
  while (auto digit = fractionDigit(wordAt(words, at + count))) {
    digits += static_cast<char>('0' + *digit);
    ++count;
  }
  if (digits.empty()) {
    auto two = smallNumber(words, at + 1);
    if (!two || two->value < 10) return std::nullopt;
    digits = std::to_string(two->value);
    count += two->count;
  }
  return std::pair{digits, count};
}

// Digits said one by one, at least three, "oh" for zero after the first: "nine one one",
// "four oh two". Ten are a phone number with its area code, seven one without.
std::optional<Match> digitString(const Words& words, std::size_t at) {
  if (!digitValue(wordAt(words, at))) return std::nullopt;
  std::string digits;
  std::size_t count = 0;
  while (auto digit = fractionDigit(wordAt(words, at + count))) {
    digits += static_cast<char>('0' + *digit);
    ++count;
  }
  if (count < 3) return std::nullopt;
  if (count == 10)
    digits = digits.substr(0, 3) + "-" + digits.substr(3, 3) + "-" + digits.substr(6);
  if (count == 7) digits = digits.substr(0, 3) + "-" + digits.substr(3);
  return Match{count, {formPiece(digits)}};
}

// A "one" with no number word beside it is a word: "one of them", "the one", "one more thing".
bool loneOne(const Words& words, std::size_t at, const Spoken& number) {
  return number.count == 1 && number.value == 1 && !isNumberWord(wordAt(words, at - 1)) &&
         !isNumberWord(wordAt(words, at + 1));
}

}  // namespace

std::optional<int> digitValue(std::string_view word) { return indexIn(kDigits, word); }

bool isNumberWord(std::string_view word) {
  return indexIn(kDigits, word) || indexIn(kTeens, word) || indexIn(kTens, word) ||
         word == "hundred" || scaleValue(word);
}

std::optional<Spoken> smallNumber(const Words& words, std::size_t at) {
  const std::string_view word = wordAt(words, at);
  if (auto tens = indexIn(kTens, word)) {
    const uint64_t value = 20 + 10 * static_cast<uint64_t>(*tens);
    auto unit = digitValue(wordAt(words, at + 1));
    if (unit && *unit > 0) return Spoken{value + static_cast<uint64_t>(*unit), 2};
    return Spoken{value, 1};
  }
  if (auto teen = indexIn(kTeens, word)) return Spoken{10 + static_cast<uint64_t>(*teen), 1};
  if (auto digit = digitValue(word)) return Spoken{static_cast<uint64_t>(*digit), 1};
  return std::nullopt;
}

std::optional<Spoken> cardinal(const Words& words, std::size_t at) {
  Spoken total;
  // Each scale word must be smaller than the one before: "two million three thousand".
  uint64_t below = std::numeric_limits<uint64_t>::max();
  for (;;) {
    std::optional<Spoken> group = hundreds(words, at + total.count);
    if (!group || (total.count > 0 && group->value == 0)) break;
    const std::optional<uint64_t> scale =
        scaleValue(wordAt(words, at + total.count + group->count));
    if (scale && group->value > 0) {
      // A group before a scale as large as an earlier one starts a number of its own.
      if (*scale >= below) break;
      total.value += group->value * *scale;
      total.count += group->count + 1;
      below = *scale;
      // "one thousand and five": the last group after "and".
      if (wordAt(words, at + total.count) == "and") {
        auto last = hundreds(words, at + total.count + 1);
        if (last && last->value > 0 &&
            !scaleValue(wordAt(words, at + total.count + 1 + last->count))) {
          total.value += last->value;
          total.count += 1 + last->count;
          break;
        }
      }
      continue;
    }
    total.value += group->value;
    total.count += group->count;
    break;
  }
  if (total.count == 0) return std::nullopt;
  return total;
}

std::optional<Spoken> dayOrdinal(const Words& words, std::size_t at) {
  const std::string_view word = wordAt(words, at);
  if (word == "twentieth") return Spoken{20, 1};
  if (word == "thirtieth") return Spoken{30, 1};
  if (auto ordinal = indexIn(kOrdinals, word))
    return Spoken{static_cast<uint64_t>(*ordinal) + 1, 1};
  if (word == "twenty" || word == "thirty") {
    auto unit = indexIn(kOrdinals, wordAt(words, at + 1));
    const uint64_t value =
        (word == "twenty" ? 20 : 30) + static_cast<uint64_t>(unit.value_or(99)) + 1;
    if (unit && *unit < 9 && value <= 31) return Spoken{value, 2};
  }
  return std::nullopt;
}

std::string grouped(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string text;
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) text += ',';
    text += digits[at];
  }
  return text;
}

std::string withOrdinalSuffix(uint64_t value) {
  const uint64_t lastTwo = value % 100;
  const uint64_t last = value % 10;
  std::string_view suffix = "th";
  if (lastTwo < 11 || lastTwo > 13) {
    if (last == 1) suffix = "st";
    if (last == 2) suffix = "nd";
    if (last == 3) suffix = "rd";
  }
  return std::to_string(value) + std::string(suffix);
}

std::optional<Match> numbers(const Words& words, std::size_t at, const std::vector<Piece>&) {
  if (auto digits = digitString(words, at)) return digits;
  std::optional<Spoken> number = cardinal(words, at);
  if (!number) return std::nullopt;
  std::size_t next = at + number->count;
  const bool label = isOneOf(wordAt(words, at - 1), kLabels);
  std::string text = label ? std::to_string(number->value) : grouped(number->value);

  // Decimals, and versions with more than one point: "two point five", "two point one point three".
  std::string decimals;
  while (auto part = fraction(words, next)) {
    decimals += "." + part->first;
    next += part->second;
    if (!label) break;
  }
  // "three fifty dollars": dollars and cents said as two numbers.
  if (auto cents = smallNumber(words, next);
      decimals.empty() && number->value < 100 && cents && cents->value >= 10 &&
      isOneOf(wordAt(words, next + cents->count), kDollars)) {
    decimals = "." + std::to_string(cents->value);
    next += cents->count;
  }
  if (isOneOf(wordAt(words, next), kDollars)) {
    ++next;
    std::string cents = decimals;
    // "four dollars and fifty cents", "four dollars fifty cents"
    const bool joined = wordAt(words, next) == "and";
    auto small = smallNumber(words, next + joined);
    if (decimals.empty() && small && isOneOf(wordAt(words, next + joined + small->count), kCents)) {
      cents = std::string(small->value < 10 ? ".0" : ".") + std::to_string(small->value);
      next += joined + small->count + 1;
    }
    return Match{next - at, {formPiece("$" + text + cents)}};
  }
  if (wordAt(words, next) == "percent") {
    return Match{next + 1 - at, {formPiece(text + decimals + "%")}};
  }
  if (decimals.empty() && loneOne(words, at, *number)) return std::nullopt;
  return Match{next - at, {formPiece(text + decimals)}};
}

}  // namespace quillmate::linux_platform::written
