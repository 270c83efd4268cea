// An audio engine as the operating system gives it, for the layer that keeps capture running.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace quillmate::layers {

class NativeAudioEngine {
 public:
  virtual ~NativeAudioEngine() = default;
  // The input's format on `bus`, as the session checks it.
  virtual AudioFormat outputFormat(int bus) = 0;
  // With a format, the one `outputFormat` read last; without one, the bus's current format.
  // Gives back why the tap was refused, if it was.
  virtual std::optional<Error> installTap(int bus, uint32_t bufferSize,
                                          std::optional<AudioFormat> format, TapBlock block) = 0;
  virtual void removeTap(int bus) = 0;
  virtual std::optional<Error> prepare() = 0;
  virtual std::optional<Error> start() = 0;
  // Harmless on an engine that never started or has already stopped.
  virtual void stop() = 0;
  virtual bool isRunning() = 0;
  // `changed` is called on any thread each time the hardware's configuration changes, until
  // `stopObserving`; one that was already under way may still come after it.
  virtual void observeConfigurationChanges(std::function<void()> changed) = 0;
  virtual void stopObserving() = 0;
};

using MakeNativeEngine = std::function<std::shared_ptr<NativeAudioEngine>()>;

}  // namespace quillmate::layers
