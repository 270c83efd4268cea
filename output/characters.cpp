#include "output/characters.h"

#include <utf8proc.h>

namespace quillmate {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Decodes the code point at `at`; returns its length in bytes, or 0 for an invalid sequence.
std::size_t decode(std::string_view text, std::size_t at, utf8proc_int32_t& codePoint) {
  auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
  utf8proc_ssize_t length =
      utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

}  // namespace

std::string repairUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    utf8proc_int32_t codePoint;
    std::size_t length = decode(text, at, codePoint);
    if (length == 0) {
      repaired += kReplacement;
      at += 1;
    } else {
      repaired.append(text.substr(at, length));
      at += length;
    }
  }
  return repaired;
}

std::string firstCharacters(std::string_view text, std::size_t limit) {
  std::string valid = repairUtf8(text);
  std::string_view rest = valid;
  std::size_t characters = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t at = 0;
  while (at < rest.size()) {
    utf8proc_int32_t codePoint;
    std::size_t length = decode(rest, at, codePoint);
    bool startsCharacter =
        previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state);
    if (startsCharacter) {
      if (characters == limit) {
        valid.resize(at);
        return valid;
      }
      ++characters;
    }
    previous = codePoint;
    at += length;
  }
  return valid;
}

}  // namespace quillmate
