#include "output/last_line.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "output/characters.h"
#include "output/status_line.h"

namespace quillmate {
namespace {

// Two buffers, so that the main thread fills one while a handler may be reading the other.
constexpr std::size_t kCapacity = 64 * 1024;
char buffers[2][kCapacity];
std::atomic<std::size_t> lengths[2];
std::atomic<int> ready{-1};  // the buffer that holds the line
std::atomic<int> claimed{-1};
std::atomic<bool> bySession{false};  // the claim is the session's own
// The session's claimed final line has yet to pass writeStatusLine; it is the one line that
// may follow a claim.
std::atomic<bool> sessionLineDue{false};
std::atomic<bool> written{false};
// An ordinary status line is being written. Every status line comes from the main thread, so
// one flag covers them; `writingHere` tells a handler that interrupted that very write.
std::atomic<bool> lineInFlight{false};
thread_local bool writingHere = false;
std::atomic<bool> partial{false};  // the last status line reached standard output only in part

void writeAll(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t count = write(STDOUT_FILENO, data + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

}  // namespace

// Ready before main, so that a process that dies before its first status line still has its line
// to write; the buffers and flags above are constant-initialised, so they are there already.
[[maybe_unused]] const bool kReadyFromTheStart = (prepareLastLine(""), true);

void prepareLastLine(std::string_view transcript) {
  if (claimed.load() >= 0) return;
  std::string line = statusLine("error", transcript, kStoppedUnexpectedly);
  // A transcript of 4000 characters made of long clusters may not fit: the line then carries
  // fewer of its characters rather than none.
  for (std::size_t limit = kTranscriptLimit; line.size() > kCapacity; limit /= 2) {
    line = statusLine("error", firstCharacters(transcript, limit / 2), kStoppedUnexpectedly);
  }
  int next = ready.load() == 0 ? 1 : 0;
  std::memcpy(buffers[next], line.data(), line.size());
  lengths[next].store(line.size());
  ready.store(next);
}

bool claimFinalLine(int status) {
  int none = -1;
  if (!claimed.compare_exchange_strong(none, status)) return false;
  bySession.store(true);
  sessionLineDue.store(true);
  return true;
}

bool finalLineIsTheSessions() { return bySession.load(); }

void finalLineWritten() { written.store(true); }

int finalLineStatus() { return claimed.load(); }

int writeLastLine(bool* wrote) {
  int none = -1;
  bool mine = claimed.compare_exchange_strong(none, 1);
  if (wrote) *wrote = mine;
  timespec pause{0, 1000000};
  if (!mine) {
    // Another road writes its final line: let it finish, then end with its status.
    for (int i = 0; i < 1000 && !written.load(); ++i) nanosleep(&pause, nullptr);
    return none;
  }
  // A status line that passed its check before this claim goes out whole first; any later one
  // sees the claim and is not written. The wait is bounded, for a main thread stuck in write.
  if (!writingHere) {
    for (int i = 0; i < 1000 && lineInFlight.load(); ++i) nanosleep(&pause, nullptr);
  }
  if (partial.load()) writeAll("\n", 1);
  // Always ready after start-up; only a crash while the process is still being loaded finds
  // no line, and then writes none rather than read outside the buffers.
  int index = ready.load();
  if (index >= 0) writeAll(buffers[index], lengths[index].load());
  written.store(true);
  return 1;
}

void writeStatusLine(std::string_view line) {
  // With the claim's own order (claim, then look for a line in flight), sequentially consistent
  // on both sides, either this line sees the claim or the claiming road waits for this line.
  lineInFlight.store(true);
  writingHere = true;
  if (claimed.load() >= 0 && !sessionLineDue.exchange(false)) {
    writingHere = false;
    lineInFlight.store(false);
    return;
  }
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t count = write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
    partial.store(done < line.size());
  }
  partial.store(done > 0 && done < line.size());
  writingHere = false;
  lineInFlight.store(false);
}

}  // namespace quillmate
