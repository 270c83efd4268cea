// Text helpers for the status lines: user-perceived characters and UTF-8 repair.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmate {

// Text is bytes in C++, so a transcript or message can carry invalid UTF-8. Each invalid
// sequence becomes U+FFFD so the line can still be written instead of being lost.
std::string repairUtf8(std::string_view text);

// The first `limit` user-perceived characters (extended grapheme clusters) of `text`, after
// repairUtf8. A character made of several code points is kept whole or left out whole.
std::string firstCharacters(std::string_view text, std::size_t limit);

}  // namespace quillmate
