// The model's words written as dictated text: what a platform's formatted transcript looks like.
#pragma once

#include <string>
#include <string_view>

namespace quillmate::linux_platform {

// `words` (the model's lower-case words, separated by single spaces) with the first word
// capitalised, and the pronoun "I" with its contractions ("I'm", "I'll", "I've", "I'd"). No word
// is added, dropped or otherwise changed.
std::string formatLikeDictation(std::string_view words);

}  // namespace quillmate::linux_platform
