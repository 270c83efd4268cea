// How long capture is given to come up, and how often it may start again.
#pragma once

#include <chrono>
#include <deque>

#include "platform/main_queue.h"

namespace quillmate::layers {

// A bring-up of capture (the first start, or a restart after a change) gives up after this long.
// A Bluetooth headset's microphone takes 2 to 3 s to come up after a profile switch.
inline constexpr std::chrono::milliseconds kStartBudget{4000};
// Within this long of a bring-up's begin, the input must report a usable format: right after a
// first grant, or during a profile switch, it reads 0 Hz for a while.
inline constexpr std::chrono::milliseconds kFormatBudget{2500};
// Between two reads of an input that is not usable yet, each on a fresh engine.
inline constexpr std::chrono::milliseconds kFormatPoll{200};
// Capture that delivers no buffer for this long is as dead as an engine that stopped.
inline constexpr std::chrono::milliseconds kSilentTap{1000};
// How often the main queue looks at the buffer count.
inline constexpr std::chrono::milliseconds kBufferCheck{250};

// The waits between failed starts: 250 ms, then twice as long each time, up to 1 s.
class RetryWaits {
 public:
  std::chrono::milliseconds next();

 private:
  std::chrono::milliseconds wait{250};
};

// More than kMostRestarts restarts within kRestartWindow: each start makes the hardware post
// another change, and restarts would follow one another without end.
inline constexpr int kMostRestarts = 5;
inline constexpr std::chrono::seconds kRestartWindow{10};

class RestartWindow {
 public:
  // Counts a restart at `now`; false when it is one too many.
  bool allow(MainQueue::Duration now);

 private:
  std::deque<MainQueue::Duration> recent;
};

}  // namespace quillmate::layers
