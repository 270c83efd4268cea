// The scripted microphone: an input node that holds the tap, and an audio thread that feeds it
// silence at the input's pace while an engine runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/scripted/call_log.h"

namespace quillmate::scripted {

class ScriptedInputNode final : public InputNode {
 public:
  ScriptedInputNode(AudioFormat format, std::shared_ptr<CallLog> log);

  AudioFormat outputFormat(int bus) override;
  void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) override;
  void removeTap(int bus) override;
  // On the audio thread. The lock hands the tap over between threads: once removeTap returns,
  // no call of the old block is still running.
  void feed(const AudioPCMBuffer& buffer, const AudioTime& time);
  // From now on the tap gets nothing, as from hardware that went quiet under a running engine.
  void mute() { muted.store(true, std::memory_order_relaxed); }

  const AudioFormat format;

 private:
  std::shared_ptr<CallLog> log;
  std::atomic<bool> muted{false};
  std::mutex tapMutex;
  TapBlock tap;
};

// Feeds silent 1024-frame buffers to an input node from its own thread, between start and stop.
// Safe to start and stop from any thread.
class SilenceFeeder {
 public:
  explicit SilenceFeeder(ScriptedInputNode& input) : input(input) {}
  ~SilenceFeeder() { stop(); }

  void start();
  void stop();
  bool running();

 private:
  void feed(uint64_t mine);

  ScriptedInputNode& input;
  std::mutex mutex;
  std::condition_variable wake;
  bool feeding = false;
  uint64_t generation = 0;  // of the thread that feeds now
  std::thread audioThread;
};

}  // namespace quillmate::scripted
