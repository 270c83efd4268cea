// The model's words written as dictated text: what a platform's formatted transcript looks like.
#pragma once

#include <string>
#include <string_view>

namespace quillmate::linux_platform {

// `words` (the model's lower-case words, separated by single spaces) with the first word
// capitalised, and the pronoun "I" with its contractions ("I'm", "I'll", "I've", "I'd"). No word
// is added, dropped or otherwise changed.
std::string formatLikeDictation(std::string_view words);

// How a model's words are written for its language (the language part of its tag, "en" for
// "en-US"): English as a person types it (see written/written_forms.h), any other language
// as `formatLikeDictation` writes it.
using Formatter = std::string (*)(std::string_view words);
Formatter formatterFor(std::string_view language);

}  // namespace quillmate::linux_platform
