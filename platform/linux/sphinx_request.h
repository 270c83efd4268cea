// The request that the tap appends to on Linux: captured audio mixed to 16-bit mono and handed
// to the decoder's thread through a ring, with the loudest sample so far.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/linux/sample_ring.h"
#include "platform/platform.h"

namespace quillmate::linux_platform {

// The model's rate.
inline constexpr uint32_t kModelRate = 16000;
// The most captured rate the request takes.
inline constexpr uint32_t kMostRate = 192000;

class SphinxRequest final : public RecognitionRequest {
 public:
  SphinxRequest();

  // The model always recognises; nothing here changes what it does.
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}

  // On the audio thread: mixes to 16-bit mono in a fixed buffer and hands it to the decoder's
  // thread through the ring, which converts the rate there, and wakes that thread once enough
  // is waiting (see `wakeAtSamples`). No allocation, no lock.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override;
  void endAudio() override;

  // Tells the decoder's thread that something changed: audio arrived, audio ended, the model
  // loaded, or the task was cancelled. A futex wake: no lock, no allocation.
  void wake();

  SampleRing ring;
  std::atomic<uint32_t> inputRate{0};  // set by the first buffer appended
  std::atomic<bool> audioEnded{false};
  std::atomic<uint32_t> changes{0};       // what the decoder's thread waits on
  std::atomic<int32_t> loudest{0};        // the largest sample magnitude appended so far
  std::atomic<uint32_t> bufferFrames{0};  // the length of the last buffer appended
  // How many samples must be waiting in the ring before an append wakes the decoder's thread;
  // 0 wakes it for every buffer. Set by that thread: each wake costs decoder time beyond the
  // audio it brings, so once words show it takes audio in batches.
  std::atomic<std::size_t> wakeAtSamples{0};

 private:
  void mix(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames);

  std::vector<int16_t> mono;
};

// Seconds of audio appended to `request` (a SphinxRequest) that its task has not yet taken: how
// far the decoder is behind capture. For the benchmarks.
double undecodedSeconds(const RecognitionRequest& request);

}  // namespace quillmate::linux_platform
