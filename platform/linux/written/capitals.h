// Capitals as a person types them: the first word and the word after ". ? !", "I" and its
// contractions, months (the ones that are also words only where they are months), holidays, and
// the names and acronyms that an English word list spells only with capitals.
#pragma once

#include <vector>

#include "platform/linux/written/pieces.h"

namespace quillmate::linux_platform::written {

void capitalize(std::vector<Piece>& pieces);

}  // namespace quillmate::linux_platform::written
