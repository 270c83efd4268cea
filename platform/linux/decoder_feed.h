// The hand-off of captured audio from the audio thread to the decoder's thread: 16-bit mono
// samples in a ring, the loudest sample so far, the end of audio, and the wake-up the decoder's
// thread sleeps on. Neither side allocates or takes a lock.
//
// The ordering promise, for every use below: a decoder that reads `look()`, then finds nothing
// to `take`, and then calls `waitForChange(look().change)` is woken by any push, end or wake that
// came after its look. Every sample pushed before `end()` is taken by a `take` after a look that
// saw `ended`. So no sample and no wake-up is ever lost, however the two threads interleave.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/linux/sample_ring.h"

namespace quillmate::linux_platform {

class DecoderFeed {
 public:
  explicit DecoderFeed(std::size_t capacity) : ring(capacity) {}

  // The audio side, one thread at a time.
  //
  // Fixes the feed's rate at the first call; false for any other rate after that, since audio
  // at another rate would be decoded at the wrong speed.
  bool takesRate(uint32_t rate);
  // Appends samples of one buffer, and keeps the loudest.
  void push(const int16_t* samples, std::size_t count);
  // After the last push of a buffer of `frames`: wakes the decoder's thread for every buffer,
  // or once a batch is waiting (see `setBatch`).
  void bufferDone(uint32_t frames);
  void end();

  // Either side, or any other thread: something changed (the model loaded, a cancel).
  void wake();

  // The decoder side.
  struct Look {
    uint32_t change;  // for `waitForChange`
    bool ended;       // every sample is pushed
  };
  Look look() const;
  std::size_t take(int16_t* to, std::size_t most) { return ring.pop(to, most); }
  void waitForChange(uint32_t seen) const { changes.wait(seen, std::memory_order_acquire); }
  // How many samples must be waiting before a buffer wakes the decoder's thread; 0 wakes it for
  // every buffer. Each wake costs decoder time beyond the audio it brings, so once words show
  // the decoder takes audio in batches.
  void setBatch(std::size_t samples);

  // Facts, from any thread, as of some moment during the call.
  uint32_t rate() const { return inputRate.load(std::memory_order_acquire); }
  int32_t loudest() const { return peak.load(std::memory_order_relaxed); }
  uint32_t lastBufferFrames() const { return bufferFrames.load(std::memory_order_relaxed); }
  std::size_t waiting() const { return ring.size(); }
  std::size_t batch() const { return wakeAtSamples.load(std::memory_order_relaxed); }
  uint32_t changeCount() const { return changes.load(std::memory_order_acquire); }

 private:
  SampleRing ring;
  std::atomic<uint32_t> inputRate{0};
  std::atomic<bool> audioEnded{false};
  std::atomic<uint32_t> changes{0};
  std::atomic<int32_t> peak{0};
  std::atomic<uint32_t> bufferFrames{0};
  std::atomic<std::size_t> wakeAtSamples{0};
};

}  // namespace quillmate::linux_platform
