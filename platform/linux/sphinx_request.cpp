#include "platform/linux/sphinx_request.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/linux/mix.h"

namespace quillmate::linux_platform {
namespace {

// The ring holds everything a session can capture before its cap, with room to spare, even if
// the decoder has not read a single sample yet: 75 seconds at rates up to 192 kHz. Only the
// pages that audio reaches are ever touched.
constexpr std::size_t kRingSamples = std::size_t{kMostRate} * 75;
constexpr std::size_t kMixFrames = 1024;  // frames mixed per step on the audio thread

}  // namespace

SphinxRequest::SphinxRequest() : ring(kRingSamples), mono(kMixFrames) {}

void SphinxRequest::appendAudioPCMBuffer(const AudioPCMBuffer& buffer) {
  const uint32_t channels = buffer.format.channelCount;
  const double rate = std::round(buffer.format.sampleRate);
  if (!buffer.data || channels == 0 || !(rate >= 1.0 && rate <= kMostRate)) return;
  uint32_t expected = 0;
  uint32_t wanted = static_cast<uint32_t>(rate);
  // A tap's buffers keep one format; audio in another rate would be decoded at the wrong
  // speed, so it is left out.
  if (!inputRate.compare_exchange_strong(expected, wanted) && expected != wanted) return;
  for (uint32_t done = 0; done < buffer.frameLength;) {
    const uint32_t frames =
        static_cast<uint32_t>(std::min<std::size_t>(kMixFrames, buffer.frameLength - done));
    mix(buffer, done, frames);
    ring.push(mono.data(), frames);
    done += frames;
  }
  bufferFrames.store(buffer.frameLength, std::memory_order_relaxed);
  // A read-modify-write, as the decoder's thread's change of `wakeAtSamples` is: either this
  // reads the new value, or that change reads this one, and the thread's next look at the ring
  // then finds these samples. Either way no wake is lost.
  const std::size_t batch = wakeAtSamples.fetch_add(0, std::memory_order_acq_rel);
  if (batch == 0 || ring.size() >= batch) wake();
}

void SphinxRequest::endAudio() {
  audioEnded.store(true, std::memory_order_release);
  wake();
}

void SphinxRequest::wake() {
  changes.fetch_add(1, std::memory_order_release);
  changes.notify_one();
}

void SphinxRequest::mix(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames) {
  mixToMono(buffer, first, frames, mono.data());
  int32_t peak = loudest.load(std::memory_order_relaxed);
  for (uint32_t frame = 0; frame < frames; ++frame) {
    peak = std::max<int32_t>(peak, std::abs(int32_t{mono[frame]}));
  }
  loudest.store(peak, std::memory_order_relaxed);
}

double undecodedSeconds(const RecognitionRequest& request) {
  const auto& sphinx = static_cast<const SphinxRequest&>(request);
  uint32_t rate = sphinx.inputRate.load();
  return rate ? static_cast<double>(sphinx.ring.size()) / rate : 0.0;
}

}  // namespace quillmate::linux_platform
