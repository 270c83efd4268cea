#include "platform/linux/decoder_feed.h"

#include <algorithm>
#include <cstdlib>

namespace quillmate::linux_platform {

bool DecoderFeed::takesRate(uint32_t rate) {
  uint32_t expected = 0;
  return inputRate.compare_exchange_strong(expected, rate) || expected == rate;
}

void DecoderFeed::push(const int16_t* samples, std::size_t count) {
  int32_t loudest = peak.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < count; ++i) {
    loudest = std::max<int32_t>(loudest, std::abs(int32_t{samples[i]}));
  }
  peak.store(loudest, std::memory_order_relaxed);
  ring.push(samples, count);
}

void DecoderFeed::bufferDone(uint32_t frames) {
  bufferFrames.store(frames, std::memory_order_relaxed);
  // A read-modify-write, as `setBatch` is: either this reads the new batch, or `setBatch` comes
  // later in their order and the decoder's next look at the ring finds these samples. Either way
  // no wake is lost.
  const std::size_t batch = wakeAtSamples.fetch_add(0, std::memory_order_acq_rel);
  if (batch == 0 || ring.size() >= batch) wake();
}

void DecoderFeed::end() {
  audioEnded.store(true, std::memory_order_release);
  wake();
}

void DecoderFeed::wake() {
  changes.fetch_add(1, std::memory_order_release);
  changes.notify_one();
}

DecoderFeed::Look DecoderFeed::look() const {
  // The change is read first, so that anything after it wakes the wait; the end before the
  // samples are taken, so that every sample pushed before the end is taken.
  uint32_t change = changes.load(std::memory_order_acquire);
  return {change, audioEnded.load(std::memory_order_acquire)};
}

void DecoderFeed::setBatch(std::size_t samples) {
  wakeAtSamples.exchange(samples, std::memory_order_acq_rel);
}

}  // namespace quillmate::linux_platform
