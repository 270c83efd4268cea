// Punctuation said as words, written as the mark: "reminder colon call ray" as "Reminder: call
// ray", "is it done question mark" as "Is it done?".
#pragma once

#include "platform/linux/written/pieces.h"

namespace quillmate::linux_platform::written {

// "comma", "period" or "full stop", "question mark", "exclamation point" or "exclamation mark",
// "colon", "semicolon". The mark joins the word before it. With no word before it, or after a
// word that makes it a noun ("a comma", "the grace period"), it stays a word.
std::optional<Match> punctuation(const Words& words, std::size_t at,
                                 const std::vector<Piece>& written);

}  // namespace quillmate::linux_platform::written
