// Random sequences of the recognizer's words, the ones the written-forms rules read among them,
// must always come out whole: no crash, every word the rules do not rewrite still there in
// order, and the text no longer than the words allow.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/written/written_forms.h"

namespace {

// The case being checked, shown when a check fails.
std::string said;
std::string typed;

void require(bool holds) {
  if (holds) return;
  std::fprintf(stderr, "said:  [%s]\ntyped: [%s]\n", said.c_str(), typed.c_str());
  std::abort();
}

// Words the rules read, and ordinary words around them.
constexpr std::string_view kVocabulary[] = {
    "zero",      "one",       "two",       "three",     "four",    "five",        "six",
    "seven",     "eight",     "nine",      "ten",       "eleven",  "twelve",      "thirteen",
    "fifteen",   "nineteen",  "twenty",    "thirty",    "forty",   "fifty",       "ninety",
    "hundred",   "thousand",  "million",   "billion",   "and",     "oh",          "point",
    "dollars",   "dollar",    "bucks",     "cents",     "percent", "first",       "second",
    "third",     "fifteenth", "twentieth", "thirtieth", "the",     "of",          "at",
    "by",        "on",        "in",        "until",     "version", "room",        "a",
    "p",         "m",         "a.",        "p.",        "m.",      "am",          "pm",
    "a.m.",      "p.m.",      "o'clock",   "q",         "i",       "c",           "x.",
    "january",   "may",       "march",     "june",      "august",  "friday",      "comma",
    "period",    "full",      "stop",      "question",  "mark",    "exclamation", "colon",
    "semicolon", "semi",      "grace",     "new",       "year's",  "eve",         "day",
    "christmas", "chicago",   "nasa",      "bill",      "i'm",     "call",        "buy",
    "noon",      "tv",        "<unk>",     "",
};

// Words a rule may write as something else: numbers, letters, marks, times, amounts.
constexpr std::string_view kRewritable[] = {
    "zero",        "one",        "two",        "three",      "four",      "five",
    "six",         "seven",      "eight",      "nine",       "ten",       "eleven",
    "twelve",      "thirteen",   "fourteen",   "fifteen",    "sixteen",   "seventeen",
    "eighteen",    "nineteen",   "twenty",     "thirty",     "forty",     "fifty",
    "sixty",       "seventy",    "eighty",     "ninety",     "hundred",   "thousand",
    "million",     "billion",    "first",      "second",     "third",     "fourth",
    "fifth",       "sixth",      "seventh",    "eighth",     "ninth",     "tenth",
    "eleventh",    "twelfth",    "thirteenth", "fourteenth", "fifteenth", "sixteenth",
    "seventeenth", "eighteenth", "nineteenth", "twentieth",  "thirtieth", "and",
    "oh",          "point",      "dollars",    "dollar",     "bucks",     "cents",
    "cent",        "percent",    "am",         "pm",         "a.m.",      "p.m.",
    "comma",       "period",     "full",       "stop",       "question",  "mark",
    "exclamation", "colon",      "semicolon",  "semi"};

bool rewritable(std::string_view word) {
  if (word.size() == 1 || (word.size() == 2 && word[1] == '.')) return true;  // letters
  for (std::string_view member : kRewritable) {
    if (word == member) return true;
  }
  return false;
}

std::string lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> found;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    std::string token = lower(text.substr(at, end - at));
    // A mark joins the word before it.
    while (!token.empty() &&
           std::string_view(",.?!:;").find(token.back()) != std::string_view::npos &&
           token != "a.m." && token != "p.m.") {
      token.pop_back();
    }
    found.push_back(token);
    at = end + 1;
  }
  return found;
}

// The words as the helper reads them: separated by any white space.
std::vector<std::string> heard(std::string_view said) {
  std::vector<std::string> words;
  std::string current;
  for (char c : said) {
    if (std::string_view(" \t\n\r\f\v").find(c) == std::string_view::npos) {
      current += c;
    } else if (!current.empty()) {
      words.push_back(std::exchange(current, ""));
    }
  }
  if (!current.empty()) words.push_back(current);
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<std::string> words;
  said.clear();
  while (provider.remaining_bytes() > 0) {
    std::string word;
    if (provider.ConsumeBool()) {
      word =
          kVocabulary[provider.ConsumeIntegralInRange<std::size_t>(0, std::size(kVocabulary) - 1)];
    } else {
      word = provider.ConsumeRandomLengthString(12);  // any bytes, white space included
    }
    said += word;
    said += provider.ConsumeBool() ? " " : "  ";
  }
  typed = quillmate::linux_platform::writtenForms(said);

  // Numbers, dates and marks only get shorter; commas, "$" and ":" add at most a few bytes.
  require(typed.size() <= 2 * said.size() + 8);

  // Every word that no rule rewrites is there, in order, changed at most in case. The marks a
  // word may lose are the ones it had (the rules' own marks join it the same way).
  const std::vector<std::string> out = tokens(typed);
  std::size_t at = 0;
  for (const std::string& word : heard(said)) {
    const std::string wanted = tokens(word).front();
    if (rewritable(lower(word)) || wanted.empty()) continue;
    while (at < out.size() && out[at] != wanted) ++at;
    require(at < out.size());
    ++at;
  }
  return 0;
}
