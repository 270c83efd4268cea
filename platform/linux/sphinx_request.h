// The request that the tap appends to on Linux: captured audio mixed to 16-bit mono and handed
// to the decoder's thread through its feed.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/decoder_feed.h"
#include "platform/platform.h"

namespace quillmate::linux_platform {

// The most captured rate the request takes.
inline constexpr uint32_t kMostRate = 192000;

class SphinxRequest final : public RecognitionRequest {
 public:
  SphinxRequest();

  // The model always recognises; nothing here changes what it does.
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}

  // On the audio thread: mixes to 16-bit mono in a fixed buffer and pushes it to the feed; the
  // decoder's thread converts the rate. No allocation, no lock.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override;
  void endAudio() override;

  // Seconds of audio appended that the task has not yet taken: how far the decoder is behind
  // capture. For the benchmarks.
  double undecodedSeconds() const;

  DecoderFeed feed;

 private:
  std::vector<int16_t> mono;
};

}  // namespace quillmate::linux_platform
