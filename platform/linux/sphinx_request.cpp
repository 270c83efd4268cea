#include "platform/linux/sphinx_request.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/mix.h"

namespace quillmate::linux_platform {
namespace {

// The feed holds everything a session can capture before its cap, with room to spare, even if
// the decoder has not read a single sample yet: 75 seconds at rates up to 192 kHz. Only the
// pages that audio reaches are ever touched.
constexpr std::size_t kFeedSamples = std::size_t{kMostRate} * 75;
constexpr std::size_t kMixFrames = 1024;  // frames mixed per step on the audio thread

}  // namespace

SphinxRequest::SphinxRequest() : feed(kFeedSamples), mono(kMixFrames) {}

void SphinxRequest::appendAudioPCMBuffer(const AudioPCMBuffer& buffer) {
  const uint32_t channels = buffer.format.channelCount;
  const double rate = std::round(buffer.format.sampleRate);
  if (!buffer.data || channels == 0 || !(rate >= 1.0 && rate <= kMostRate)) return;
  // A tap's buffers keep one format; a buffer in another rate is left out.
  if (!feed.takesRate(static_cast<uint32_t>(rate))) return;
  for (uint32_t done = 0; done < buffer.frameLength;) {
    const uint32_t frames =
        static_cast<uint32_t>(std::min<std::size_t>(kMixFrames, buffer.frameLength - done));
    mixToMono(buffer, done, frames, mono.data());
    feed.push(mono.data(), frames);
    done += frames;
  }
  feed.bufferDone(buffer.frameLength);
}

void SphinxRequest::endAudio() { feed.end(); }

double SphinxRequest::undecodedSeconds() const {
  const uint32_t rate = feed.rate();
  return rate ? static_cast<double>(feed.waiting()) / rate : 0.0;
}

}  // namespace quillmate::linux_platform
