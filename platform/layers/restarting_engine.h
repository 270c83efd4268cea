// Capture that comes up when the hardware lets it, and comes back after the hardware changes.
//
// A native engine may fail to start while a Bluetooth headset switches profile, stop by itself
// when the hardware changes under it, or run and deliver nothing. The session relies on capture
// that runs until it stops it, so this layer brings capture up in the background: it reads the
// input's format before the tap goes in, starts the engine, and counts capture as up only once
// the first buffer has arrived. A try that fails is made again on a fresh engine, after waits
// that grow from 250 ms to 1 s, until the bring-up's budget of about 4 s is spent. The first
// start goes the same way; so does every restart after a change, or after the tap went quiet.
// Only a bring-up that spent its budget ends capture: gracefully when words may have been heard,
// with an error when no buffer ever came.
//
// Lives on the main queue: changes are posted there, and the session calls it there.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/layers/capture_budget.h"
#include "platform/layers/native_engine.h"
#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate::layers {

// What a bring-up that never heard a buffer says it found.
inline constexpr const char* kNoSound = "No sound arrived from the microphone.";

class RestartingEngine final : public AudioEngine,
                               public InputNode,
                               public std::enable_shared_from_this<RestartingEngine> {
 public:
  // `formatChanged` is called on the main queue when capture comes back on an input whose format
  // differs from the one the buffers had so far, before the first buffer of the new format.
  RestartingEngine(MakeNativeEngine makeNative, MainQueue& mainQueue,
                   std::function<void()> formatChanged);

  InputNode& inputNode() override { return *this; }
  // The input's format. While the input is not usable yet, the last usable format seen or a
  // placeholder, so that the session goes on: the bring-up then waits for a usable input, and
  // reports `noInput` if none comes within its budget.
  AudioFormat outputFormat(int bus) override;
  // Kept, and installed on each engine as it comes up, with the format that engine reads.
  void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) override;
  void removeTap(int bus) override;
  // Nothing here: each engine is prepared as it comes up.
  void prepare() override {}
  // Begins the bring-up and gives no error: a try that fails is made again, and only a bring-up
  // that spent its budget reports, through `ended`.
  std::optional<Error> start(CaptureEnded ended) override;
  // Capture stops for good: later changes and scheduled tries are ignored.
  void stop() override;

 private:
  struct Tap {
    int bus;
    uint32_t bufferSize;
    TapBlock block;
  };
  // From a start or a restart until its first buffer, or until its budget is spent.
  struct BringUp {
    MainQueue::Duration began;
    RetryWaits waits;
    std::optional<Error> lastFailure;
  };

  void bringUp(bool freshEngine);
  void attempt(bool freshEngine);
  void tryAgain(Error why);
  void giveUp(CaptureEnd::Reason reason);
  void check();
  void checkLater();  // the next check, kBufferCheck from now
  // Takes note of buffers that arrived since the last look; true if any did.
  bool buffersArrived();
  void changed();
  void restart();
  void replaceEngine();
  void observe();
  void later(std::chrono::milliseconds delay, void (RestartingEngine::*step)());
  void attemptFresh() { attempt(true); }
  TapBlock counting(TapBlock block);
  MainQueue::Duration sinceBringUp();

  MakeNativeEngine makeNative;
  MainQueue& mainQueue;
  std::function<void()> formatChanged;
  std::shared_ptr<NativeAudioEngine> native;
  // Engines given up on stay alive until the process ends: a notification may still be under way
  // on their queue, which must not be where one is released.
  std::vector<std::shared_ptr<NativeAudioEngine>> retired;
  std::optional<Tap> tap;
  std::optional<AudioFormat> lastUsable;
  std::optional<AudioFormat> buffersFormat;  // of the buffers since the last format change
  // Incremented by the tap on the audio thread; read by the check on the main queue.
  std::shared_ptr<std::atomic<uint64_t>> buffers = std::make_shared<std::atomic<uint64_t>>(0);
  uint64_t buffersSeen = 0;
  MainQueue::Duration lastBufferAt{};
  std::optional<BringUp> bringingUp;
  RestartWindow restarts;
  CaptureEnded captureEnded;
  uint64_t scheduled = 0;  // the latest scheduled try; an older one that comes due is dropped
  bool observing = false;
  bool engineStarted = false;  // the current engine started; buffers are expected
  bool heard = false;          // a buffer has arrived since the session's start
  bool started = false;
  bool stopped = false;
};

}  // namespace quillmate::layers
