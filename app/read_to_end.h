#pragma once

namespace quillmate {

// Blocks until standard input reaches end-of-file, discarding what it reads. A read that is
// interrupted is retried; any other read error ends the wait as end-of-file does, since the
// host can no longer reach the helper through it.
void readStandardInputToEnd();

}  // namespace quillmate
