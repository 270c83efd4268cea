#include "platform/linux/written/written_forms.h"

#include <array>

#include "platform/linux/written/capitals.h"
#include "platform/linux/written/letters.h"
#include "platform/linux/written/numbers.h"
#include "platform/linux/written/punctuation.h"
#include "platform/linux/written/times_dates.h"

namespace quillmate::linux_platform {
namespace {

using namespace written;

// Asked in this order at each word: times and dates before plain numbers, so that "three
// thirty" is a time and "june eighth" a date before either is a number.
constexpr std::array<Rule, 4> kRules = {timesAndDates, numbers, letters, punctuation};

bool space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::vector<std::string> split(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && space(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !space(text[end])) ++end;
    if (end > at) words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string lowered(std::string word) {
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return word;
}

std::string joined(const std::vector<Piece>& pieces) {
  std::string text;
  for (const Piece& piece : pieces) {
    if (!text.empty() && !piece.mark) text += ' ';
    text += piece.text;
  }
  return text;
}

}  // namespace

std::string writtenForms(std::string_view text) {
  const std::vector<std::string> said = split(text);
  Words words;
  words.reserve(said.size());
  for (const std::string& word : said) words.push_back(lowered(word));

  std::vector<Piece> pieces;
  for (std::size_t at = 0; at < words.size();) {
    std::optional<Match> match;
    for (Rule rule : kRules) {
      if ((match = rule(words, at, pieces))) break;
    }
    if (!match || match->count == 0) {
      pieces.push_back(wordPiece(said[at]));
      ++at;
      continue;
    }
    for (Piece& piece : match->pieces) pieces.push_back(std::move(piece));
    at += match->count;
  }
  capitalize(pieces);
  return joined(pieces);
}

}  // namespace quillmate::linux_platform
