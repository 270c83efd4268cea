#include "platform/scripted/scripted_native_engine.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/scripted/scripted_audio.h"

namespace quillmate::scripted {
namespace {

class ScriptedNativeEngine;

using Clock = std::chrono::steady_clock;

// What the engines of one platform share, from the main thread and the platform's thread.
struct Hardware {
  std::mutex mutex;
  std::weak_ptr<ScriptedNativeEngine> latest;
  int64_t tries = 0;  // every start, successful or not
  int64_t successes = 0;
  int64_t restartsFailed = 0;  // of the "restartFailures"
  std::optional<Clock::time_point> lastChange;
  std::optional<Clock::time_point> firstRead;
};

const char* const kChanging = "The audio hardware is changing.";

class ScriptedNativeEngine final : public layers::NativeAudioEngine {
 public:
  ScriptedNativeEngine(const Scenario& scenario, Delivery delivery, std::shared_ptr<CallLog> log,
                       std::shared_ptr<Hardware> hardware, AudioFormat format)
      : scenario(scenario),
        delivery(std::move(delivery)),
        log(log),
        hardware(std::move(hardware)),
        input(format, log),
        feeder(input) {
    if (scenario.buffersNeverArrive) input.mute();
  }

  AudioFormat outputFormat(int bus) override {
    AudioFormat format = input.outputFormat(bus);
    if (!scenario.inputUnusableFor) return format;
    std::lock_guard lock(hardware->mutex);
    auto now = Clock::now();
    if (!hardware->firstRead) hardware->firstRead = now;
    if (now - *hardware->firstRead < *scenario.inputUnusableFor) return AudioFormat{0.0, 0};
    return format;
  }

  std::optional<Error> installTap(int bus, uint32_t bufferSize, std::optional<AudioFormat> format,
                                  TapBlock block) override {
    input.installTap(bus, bufferSize, format.value_or(input.format), std::move(block));
    return std::nullopt;
  }

  void removeTap(int bus) override { input.removeTap(bus); }

  std::optional<Error> prepare() override {
    log->record("prepare");
    return std::nullopt;
  }

  std::optional<Error> start() override {
    log->record("startAndReturnError");
    bool first = false;
    {
      std::lock_guard lock(hardware->mutex);
      if (auto failure = refusal()) return failure;
      first = hardware->successes++ == 0;
    }
    feeder.start();
    if (first && scenario.buffersStopAfter) {
      delivery(*scenario.buffersStopAfter, [hardware = hardware] {
        std::lock_guard lock(hardware->mutex);
        if (auto engine = hardware->latest.lock()) engine->input.mute();
      });
    }
    if (first && scenario.configurationChanges) {
      for (auto after : *scenario.configurationChanges) {
        delivery(after, [hardware = hardware] {
          std::shared_ptr<ScriptedNativeEngine> engine;
          {
            std::lock_guard lock(hardware->mutex);
            hardware->lastChange = Clock::now();
            engine = hardware->latest.lock();
          }
          if (engine) engine->configurationChanged();
        });
      }
    }
    return std::nullopt;
  }

  void stop() override {
    log->record("stop");
    feeder.stop();
  }

  bool isRunning() override {
    log->record("isRunning");
    return feeder.running();
  }

  void observeConfigurationChanges(std::function<void()> changed) override {
    log->record("addObserver");
    std::lock_guard lock(observerMutex);
    observer = std::move(changed);
  }

  void stopObserving() override {
    log->record("removeObserver");
    std::lock_guard lock(observerMutex);
    observer = nullptr;
  }

  // On the platform's thread, as the macOS engine posts its notification.
  void configurationChanged() {
    log->record("configurationChange");
    if (!scenario.engineKeepsRunning) feeder.stop();
    std::function<void()> changed;
    {
      std::lock_guard lock(observerMutex);
      changed = observer;
    }
    if (changed) changed();
  }

 private:
  // Why this try to start fails, if it does; with the hardware's lock held.
  std::optional<Error> refusal() {
    ++hardware->tries;
    if (scenario.startFailures) {
      if (hardware->tries <= *scenario.startFailures) {
        return Error{scenario.engineStartError.value_or("The audio device is not ready.")};
      }
    } else if (scenario.engineStartError) {
      return Error{*scenario.engineStartError};
    }
    if (hardware->successes > 0 && hardware->restartsFailed < scenario.restartFailures) {
      ++hardware->restartsFailed;
      return Error{kChanging};
    }
    if (scenario.restartFailuresFor && hardware->lastChange &&
        Clock::now() - *hardware->lastChange < *scenario.restartFailuresFor) {
      return Error{kChanging};
    }
    return std::nullopt;
  }

  const Scenario& scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> log;
  std::shared_ptr<Hardware> hardware;
  ScriptedInputNode input;
  SilenceFeeder feeder;
  std::mutex observerMutex;
  std::function<void()> observer;
};

}  // namespace

layers::MakeNativeEngine scriptedNativeEngines(const Scenario& scenario, Delivery delivery,
                                               std::shared_ptr<CallLog> log) {
  auto hardware = std::make_shared<Hardware>();
  return [&scenario, delivery = std::move(delivery), log = std::move(log), hardware] {
    log->record("init");
    std::lock_guard lock(hardware->mutex);
    // A headset in its hands-free profile reads another format from the first change on.
    AudioFormat format = hardware->lastChange && scenario.inputAfterChange
                             ? *scenario.inputAfterChange
                             : scenario.input;
    auto engine = std::make_shared<ScriptedNativeEngine>(scenario, delivery, log, hardware, format);
    hardware->latest = engine;
    return engine;
  };
}

}  // namespace quillmate::scripted
