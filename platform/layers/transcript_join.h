// How the transcripts of a dictation's segments read as one text.
#pragma once

#include <string>
#include <string_view>

namespace quillmate::layers {

// `joined` followed by `next`, with one space between them where the language puts spaces
// between words. No space where either side is empty or already ends in (or starts with)
// white space, and none where the characters on either side of the join belong to a script
// written without spaces between words (Chinese, Japanese, Thai and their neighbours). Neither
// text is re-cased or re-worded.
void appendTranscript(std::string& joined, std::string_view next);

// Whether `codePoint` belongs to a script that writes words without spaces between them.
bool writtenWithoutSpaces(char32_t codePoint);

}  // namespace quillmate::layers
