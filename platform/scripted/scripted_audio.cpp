#include "platform/scripted/scripted_audio.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace quillmate::scripted {

ScriptedInputNode::ScriptedInputNode(AudioFormat format, std::shared_ptr<CallLog> log)
    : format(format), log(std::move(log)) {}

AudioFormat ScriptedInputNode::outputFormat(int bus) {
  log->record("outputFormatForBus " + std::to_string(bus));
  return format;
}

void ScriptedInputNode::installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) {
  log->record("installTapOnBus " + std::to_string(bus) + " " + std::to_string(bufferSize));
  std::lock_guard lock(tapMutex);
  tap = std::move(block);
}

void ScriptedInputNode::removeTap(int bus) {
  log->record("removeTapOnBus " + std::to_string(bus));
  std::lock_guard lock(tapMutex);
  tap = nullptr;
}

void ScriptedInputNode::feed(const AudioPCMBuffer& buffer, const AudioTime& time) {
  if (muted.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(tapMutex);
  if (tap) tap(buffer, time);
}

void SilenceFeeder::start() {
  std::lock_guard lock(mutex);
  if (feeding) return;
  feeding = true;
  audioThread = std::thread([this, mine = ++generation] { feed(mine); });
}

void SilenceFeeder::stop() {
  std::thread stopping;
  {
    std::lock_guard lock(mutex);
    feeding = false;
    ++generation;
    stopping = std::move(audioThread);
  }
  wake.notify_all();
  if (stopping.joinable()) stopping.join();
}

bool SilenceFeeder::running() {
  std::lock_guard lock(mutex);
  return feeding;
}

void SilenceFeeder::feed(uint64_t mine) {
  constexpr uint32_t kFrames = 1024;
  constexpr uint32_t kMostChannels = 64;
  AudioFormat format = input.format;
  uint32_t channels = std::min(format.channelCount, kMostChannels);
  format.channelCount = channels;
  std::vector<float> silence(size_t{kFrames} * channels, 0.0f);
  double seconds = std::clamp(kFrames / format.sampleRate, 0.001, 0.1);
  auto period = std::chrono::duration<double>(seconds);
  AudioPCMBuffer buffer{format, SampleType::float32, silence.data(), kFrames};
  AudioTime time;
  std::unique_lock lock(mutex);
  // A thread whose stop is still joining it must not go on after a start made a new one.
  auto mineStillFeeds = [this, mine] { return feeding && generation == mine; };
  while (mineStillFeeds()) {
    lock.unlock();
    input.feed(buffer, time);
    time.sampleTime += kFrames;
    lock.lock();
    wake.wait_for(lock, period, [&] { return !mineStillFeeds(); });
  }
}

}  // namespace quillmate::scripted
