// Letters said one by one, written as the acronym they spell: "q a" as "QA", "c. e. o." as "CEO".
#pragma once

#include "platform/linux/written/pieces.h"

namespace quillmate::linux_platform::written {

// The recognizer spells a letter as the letter alone ("p") or with a full stop ("p."). Two or
// more in a row are an acronym; a bare "a" starts none ("a t shirt"), and "i" and "a" alone
// together ("i a") are words.
std::optional<Match> letters(const Words& words, std::size_t at, const std::vector<Piece>& written);

}  // namespace quillmate::linux_platform::written
