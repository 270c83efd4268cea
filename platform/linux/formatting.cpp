#include "platform/linux/formatting.h"

#include <array>

#include "platform/linux/written/written_forms.h"

namespace quillmate::linux_platform {
namespace {

constexpr std::array<std::string_view, 5> kPronoun = {"i", "i'm", "i'll", "i've", "i'd"};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string formatLikeDictation(std::string_view words) {
  std::string text(words);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string_view word(text.data() + start, end - start);
    bool pronoun = false;
    for (std::string_view form : kPronoun) pronoun = pronoun || word == form;
    if (start == 0 || pronoun) text[start] = upper(text[start]);
    start = end + 1;
  }
  return text;
}

Formatter formatterFor(std::string_view language) {
  return language == "en" ? writtenForms : formatLikeDictation;
}

}  // namespace quillmate::linux_platform
