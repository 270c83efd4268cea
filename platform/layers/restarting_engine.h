// Capture that survives a change of the audio hardware's configuration.
//
// A native engine may stop by itself when the hardware changes under it: a Bluetooth headset
// that switches to its hands-free profile as the microphone opens, a new default input, a new
// sample rate. The session relies on capture that runs until it stops it, so this layer answers
// each change by starting capture again, with the tap on the input's current format; when the
// same engine will not start, with a fresh one. Only when that fails three times in a row has
// capture ended by itself. Each restart is a segment boundary for recognition, so that no
// native request sees two formats.
//
// Lives on the main queue: changes are posted there, and the session calls it there.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/layers/native_engine.h"
#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate::layers {

inline constexpr int kRestartTries = 3;
// Between two tries, so that hardware still in the middle of a change can settle.
inline constexpr std::chrono::milliseconds kRestartPause{100};

class RestartingEngine final : public AudioEngine,
                               public InputNode,
                               public std::enable_shared_from_this<RestartingEngine> {
 public:
  // `beginSegment` is called on the main queue before capture starts again after a change.
  RestartingEngine(MakeNativeEngine makeNative, MainQueue& mainQueue,
                   std::function<void()> beginSegment);

  InputNode& inputNode() override { return *this; }
  AudioFormat outputFormat(int bus) override;
  void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) override;
  void removeTap(int bus) override;
  // Observes changes from here on, so that one during prepare or start is not missed.
  void prepare() override;
  std::optional<Error> start(CaptureEnded ended) override;
  // Capture stops for good: later changes are ignored.
  void stop() override;

 private:
  struct Tap {
    int bus;
    uint32_t bufferSize;
    TapBlock block;
  };

  void observe();
  void changed();
  void attempt(int tryNumber);
  bool restart(bool freshEngine);

  MakeNativeEngine makeNative;
  MainQueue& mainQueue;
  std::function<void()> beginSegment;
  std::shared_ptr<NativeAudioEngine> native;
  // Engines given up on stay alive until the process ends: a notification may still be under way
  // on their queue, which must not be where one is released.
  std::vector<std::shared_ptr<NativeAudioEngine>> retired;
  std::optional<Tap> tap;
  std::optional<Error> tapRefused;
  std::optional<Error> prepareRefused;
  CaptureEnded captureEnded;
  bool observing = false;
  bool started = false;
  bool stopped = false;
  bool restarting = false;
};

}  // namespace quillmate::layers
