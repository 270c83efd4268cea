#include "app/read_to_end.h"

#include <unistd.h>

#include <cerrno>

namespace quillmate {

void readStandardInputToEnd() {
  char discarded[4096];
  for (;;) {
    ssize_t count = read(STDIN_FILENO, discarded, sizeof discarded);
    if (count > 0) continue;
    if (count < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace quillmate
