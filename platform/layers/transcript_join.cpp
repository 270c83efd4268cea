#include "platform/layers/transcript_join.h"

#include <utf8proc.h>

#include <array>
#include <utility>

namespace quillmate::layers {
namespace {

// Blocks of scripts that separate words without spaces, and the punctuation and letter forms
// that go with them. utf8proc gives no script property, so the blocks are listed here.
constexpr std::array<std::pair<char32_t, char32_t>, 16> kWithoutSpaces{{
    {0x0E00, 0x0E7F},    // Thai
    {0x0E80, 0x0EFF},    // Lao
    {0x0F00, 0x0FFF},    // Tibetan
    {0x1000, 0x109F},    // Myanmar
    {0x1780, 0x17FF},    // Khmer
    {0x2E80, 0x2FDF},    // CJK radicals, Kangxi radicals
    {0x3000, 0x303F},    // CJK symbols and punctuation
    {0x3040, 0x30FF},    // Hiragana, Katakana
    {0x3100, 0x312F},    // Bopomofo
    {0x31F0, 0x31FF},    // Katakana phonetic extensions
    {0x3400, 0x4DBF},    // CJK unified ideographs extension A
    {0x4E00, 0x9FFF},    // CJK unified ideographs
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFF00, 0xFFEF},    // halfwidth and fullwidth forms
    {0x20000, 0x3FFFF},  // ideographs of the supplementary planes
    {0xA9E0, 0xA9FF},    // Myanmar extended-B
}};

// The first and the last code point of `text`; -1 for text that does not decode there.
utf8proc_int32_t firstCodePoint(std::string_view text) {
  utf8proc_int32_t codePoint = -1;
  utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &codePoint);
  return codePoint;
}

utf8proc_int32_t lastCodePoint(std::string_view text) {
  // A UTF-8 sequence is at most four bytes long; step back over continuation bytes.
  std::size_t start = text.size();
  while (start > 0 && text.size() - start < 4) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) break;
  }
  return firstCodePoint(text.substr(start));
}

bool whiteSpace(utf8proc_int32_t codePoint) {
  if (codePoint < 0) return false;
  utf8proc_category_t category = utf8proc_category(codePoint);
  return codePoint == '\t' || codePoint == '\n' || codePoint == '\r' ||
         category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

bool withoutSpaces(utf8proc_int32_t codePoint) {
  return codePoint >= 0 && writtenWithoutSpaces(static_cast<char32_t>(codePoint));
}

}  // namespace

bool writtenWithoutSpaces(char32_t codePoint) {
  for (auto [first, last] : kWithoutSpaces) {
    if (codePoint >= first && codePoint <= last) return true;
  }
  return false;
}

void appendTranscript(std::string& joined, std::string_view next) {
  if (next.empty()) return;
  if (!joined.empty()) {
    utf8proc_int32_t before = lastCodePoint(joined);
    utf8proc_int32_t after = firstCodePoint(next);
    bool spaced = whiteSpace(before) || whiteSpace(after);
    if (!spaced && !withoutSpaces(before) && !withoutSpaces(after)) joined += ' ';
  }
  joined += next;
}

}  // namespace quillmate::layers
