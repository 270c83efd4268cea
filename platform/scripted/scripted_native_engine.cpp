#include "platform/scripted/scripted_native_engine.h"

#include <mutex>
#include <utility>

#include "platform/scripted/scripted_audio.h"

namespace quillmate::scripted {
namespace {

class ScriptedNativeEngine;

// What the engines of one platform share, from the main thread and the platform's thread.
struct Hardware {
  std::mutex mutex;
  std::weak_ptr<ScriptedNativeEngine> latest;
  int64_t starts = 0;  // successful or not; the first is the session's own
  bool changesScheduled = false;
};

class ScriptedNativeEngine final : public layers::NativeAudioEngine {
 public:
  ScriptedNativeEngine(const Scenario& scenario, Delivery delivery, std::shared_ptr<CallLog> log,
                       std::shared_ptr<Hardware> hardware)
      : scenario(scenario),
        delivery(std::move(delivery)),
        log(log),
        hardware(std::move(hardware)),
        input(scenario.input, log),
        feeder(input) {}

  AudioFormat outputFormat(int bus) override { return input.outputFormat(bus); }

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
    bool schedule = false;
    {
      std::lock_guard lock(hardware->mutex);
      int64_t attempt = hardware->starts++;
      if (attempt == 0 && scenario.engineStartError) return Error{*scenario.engineStartError};
      if (attempt > 0 && attempt <= scenario.restartFailures) {
        return Error{"The audio hardware is changing."};
      }
      schedule = !hardware->changesScheduled;
      hardware->changesScheduled = true;
    }
    feeder.start();
    if (schedule && scenario.configurationChanges) {
      for (auto after : *scenario.configurationChanges) {
        delivery(after, [hardware = hardware] {
          std::shared_ptr<ScriptedNativeEngine> engine;
          {
            std::lock_guard lock(hardware->mutex);
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
    auto engine = std::make_shared<ScriptedNativeEngine>(scenario, delivery, log, hardware);
    std::lock_guard lock(hardware->mutex);
    hardware->latest = engine;
    return engine;
  };
}

}  // namespace quillmate::scripted
