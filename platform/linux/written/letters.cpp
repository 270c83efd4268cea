#include "platform/linux/written/letters.h"

namespace quillmate::linux_platform::written {
namespace {

std::optional<char> letterOf(std::string_view word) {
  const bool dotted = word.size() == 2 && word[1] == '.';
  if (word.size() != 1 && !dotted) return std::nullopt;
  if (word[0] < 'a' || word[0] > 'z') return std::nullopt;
  return static_cast<char>(word[0] - 'a' + 'A');
}

// "a" and "i" without a full stop are words as often as letters.
bool alsoAWord(std::string_view word) { return word == "a" || word == "i"; }

}  // namespace

std::optional<Match> letters(const Words& words, std::size_t at, const std::vector<Piece>&) {
  if (wordAt(words, at) == "a") return std::nullopt;
  std::string acronym;
  bool onlyWords = true;
  std::size_t count = 0;
  while (auto letter = letterOf(wordAt(words, at + count))) {
    acronym += *letter;
    onlyWords = onlyWords && alsoAWord(wordAt(words, at + count));
    ++count;
  }
  if (count < 2 || onlyWords) return std::nullopt;
  return Match{count, {formPiece(acronym)}};
}

}  // namespace quillmate::linux_platform::written
