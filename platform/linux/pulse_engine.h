// Microphone capture through PulseAudio (and PipeWire through its PulseAudio server).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

struct pa_stream;

namespace quillmate::linux_platform {

// The engine and its input node in one: the default source of the user's audio server.
class PulseEngine final : public AudioEngine, public InputNode {
 public:
  PulseEngine();
  ~PulseEngine() override;

  InputNode& inputNode() override { return *this; }
  void prepare() override {}
  std::optional<Error> start(CaptureEnded ended) override;
  void stop() override;

  // The default source's rate and channels, read without capturing; rate 0 and no channels
  // when no server can be reached or it has no source.
  AudioFormat outputFormat(int bus) override;
  void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) override;
  void removeTap(int bus) override;

 private:
  struct Loop;
  std::optional<Error> connect();
  void disconnectStream();
  void deliver(const float* frames, std::size_t count);
  static void onRead(pa_stream* stream, std::size_t bytes, void* engine);
  static void onStreamState(pa_stream* stream, void* engine);

  std::unique_ptr<Loop> loop;
  std::string sourceName;
  AudioFormat sourceFormat;
  pa_stream* stream = nullptr;
  // Touched only with the loop's lock held: by the capture thread's callbacks and by the
  // session's thread in installTap, removeTap, start and stop.
  TapBlock tap;
  CaptureEnded captureEnded;  // set while a started stream runs; called once if it dies
  AudioFormat tapFormat;
  uint32_t tapFrames = 1024;
  std::vector<float> pending;
  std::size_t pendingFrames = 0;
  int64_t sampleTime = 0;
};

}  // namespace quillmate::linux_platform
