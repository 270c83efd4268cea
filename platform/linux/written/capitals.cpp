#include "platform/linux/written/capitals.h"

#include <array>

#include "platform/linux/written/capital_words.h"
#include "platform/linux/written/times_dates.h"

namespace quillmate::linux_platform::written {
namespace {

struct Spelling {
  std::string_view lower;
  std::string_view written;
};

// Words the word list leaves out or leaves lower-case that are written this way whatever their
// place: the pronoun and its contractions, and short acronyms said as one word.
constexpr std::array<Spelling, 9> kSpellings = {{
    {"i", "I"},
    {"i'm", "I'm"},
    {"i'll", "I'll"},
    {"i've", "I've"},
    {"i'd", "I'd"},
    {"ok", "OK"},
    {"tv", "TV"},
    {"pc", "PC"},
    {"thanksgiving", "Thanksgiving"},
}};

// Holidays of more than one word, each word capitalised.
constexpr std::array<std::array<std::string_view, 3>, 17> kHolidays = {{
    {"new", "year's", "day"},
    {"new", "year's", "eve"},
    {"new", "year's", ""},
    {"christmas", "eve", ""},
    {"christmas", "day", ""},
    {"memorial", "day", ""},
    {"labor", "day", ""},
    {"independence", "day", ""},
    {"veterans", "day", ""},
    {"mother's", "day", ""},
    {"father's", "day", ""},
    {"valentine's", "day", ""},
    {"presidents", "day", ""},
    {"columbus", "day", ""},
    {"good", "friday", ""},
    {"black", "friday", ""},
    {"cyber", "monday", ""},
}};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool lowerCase(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return false;
  }
  return true;
}

std::string_view textAt(const std::vector<Piece>& pieces, std::size_t at) {
  return at < pieces.size() ? std::string_view(pieces[at].text) : std::string_view();
}

// How many words of a holiday start at `at`, or 0.
std::size_t holidayAt(const std::vector<Piece>& pieces, std::size_t at) {
  for (const auto& holiday : kHolidays) {
    std::size_t count = 0;
    while (count < holiday.size() && !holiday[count].empty() && at + count < pieces.size() &&
           pieces[at + count].word && pieces[at + count].text == holiday[count]) {
      ++count;
    }
    if (count == holiday.size() || (count > 0 && holiday[count].empty())) return count;
  }
  return 0;
}

void respell(Piece& piece, const std::vector<Piece>& pieces, std::size_t at) {
  for (const Spelling& spelling : kSpellings) {
    if (piece.text == spelling.lower) {
      piece.text = spelling.written;
      return;
    }
  }
  if (monthIsAlsoAWord(piece.text)) {
    if (leadsToMonth(textAt(pieces, at - 1))) piece.text[0] = upper(piece.text[0]);
    return;
  }
  if (auto name = capitalForm(piece.text)) piece.text = *name;
}

}  // namespace

void capitalize(std::vector<Piece>& pieces) {
  for (std::size_t at = 0; at < pieces.size(); ++at) {
    if (!pieces[at].word || !lowerCase(pieces[at].text)) continue;
    if (std::size_t words = holidayAt(pieces, at)) {
      for (std::size_t i = at; i < at + words; ++i) pieces[i].text[0] = upper(pieces[i].text[0]);
      at += words - 1;
      continue;
    }
    respell(pieces[at], pieces, at);
  }
  bool sentenceStart = true;
  for (Piece& piece : pieces) {
    if (piece.mark) {
      sentenceStart = piece.endsSentence;
      continue;
    }
    if (sentenceStart && !piece.text.empty()) piece.text[0] = upper(piece.text[0]);
    sentenceStart = false;
  }
}

}  // namespace quillmate::linux_platform::written
