// What the written-forms rules read and write: the recognizer's words in lower case, and the
// pieces of typed text that each rule makes of the words it takes.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmate::linux_platform::written {

// The recognizer's words, lower-cased, as the rules match them.
using Words = std::vector<std::string>;

// One piece of the written text: a word, or a form the rules made ("3:30", "$40", "QA", ",").
struct Piece {
  std::string text;
  bool word = false;          // a recognised word left as itself, which the capitals may respell
  bool mark = false;          // punctuation, written straight after the piece before it
  bool endsSentence = false;  // ". ? !": the word after it starts a sentence
};

inline Piece wordPiece(std::string text) { return Piece{std::move(text), true}; }
inline Piece formPiece(std::string text) { return Piece{std::move(text)}; }

// What a rule made of the words it took, starting where it was asked. `count` is at least 1.
struct Match {
  std::size_t count = 0;
  std::vector<Piece> pieces;
};

// Every rule is asked at each word that no earlier rule took, with the pieces written so far.
using Rule = std::optional<Match> (*)(const Words& words, std::size_t at,
                                      const std::vector<Piece>& written);

// The word at `at`, or "" outside the words (also for `at - 1` at the first word), so that the
// rules can look around without checking bounds.
inline std::string_view wordAt(const Words& words, std::size_t at) {
  return at < words.size() ? std::string_view(words[at]) : std::string_view();
}

template <typename Set>
bool isOneOf(std::string_view word, const Set& set) {
  for (std::string_view member : set) {
    if (word == member) return true;
  }
  return false;
}
inline bool isOneOf(std::string_view word, std::initializer_list<std::string_view> set) {
  return isOneOf<std::initializer_list<std::string_view>>(word, set);
}

}  // namespace quillmate::linux_platform::written
