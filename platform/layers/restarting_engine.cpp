#include "platform/layers/restarting_engine.h"

#include <utility>

namespace quillmate::layers {

RestartingEngine::RestartingEngine(MakeNativeEngine makeNativeEngine, MainQueue& queue,
                                   std::function<void()> segmentBoundary)
    : makeNative(std::move(makeNativeEngine)),
      mainQueue(queue),
      beginSegment(std::move(segmentBoundary)),
      native(makeNative()) {}

AudioFormat RestartingEngine::outputFormat(int bus) { return native->outputFormat(bus); }

void RestartingEngine::installTap(int bus, uint32_t bufferSize, AudioFormat format,
                                  TapBlock block) {
  tap = Tap{bus, bufferSize, block};
  tapRefused = native->installTap(bus, bufferSize, format, std::move(block));
}

void RestartingEngine::removeTap(int bus) {
  tap.reset();
  native->removeTap(bus);
}

void RestartingEngine::prepare() {
  observe();
  prepareRefused = native->prepare();
}

std::optional<Error> RestartingEngine::start(CaptureEnded ended) {
  // A refused tap or prepare is reported here, so that the session ends through its start
  // failure with the tap it set up torn down as usual.
  if (tapRefused) return tapRefused;
  if (prepareRefused) return prepareRefused;
  if (auto failure = native->start()) return failure;
  captureEnded = std::move(ended);
  started = true;
  return std::nullopt;
}

void RestartingEngine::stop() {
  stopped = true;
  if (observing) {
    native->stopObserving();
    observing = false;
  }
  native->stop();
}

void RestartingEngine::observe() {
  if (observing) return;
  observing = true;
  // The native queue only posts: every decision is taken on the main queue.
  native->observeConfigurationChanges([self = weak_from_this(), queue = &mainQueue] {
    queue->post([self] {
      if (auto engine = self.lock()) engine->changed();
    });
  });
}

void RestartingEngine::changed() {
  if (stopped || !started || restarting) return;
  // Some changes are posted while the engine still runs: capture goes on as it is.
  if (native->isRunning()) return;
  beginSegment();
  attempt(1);
}

void RestartingEngine::attempt(int tryNumber) {
  restarting = false;
  if (stopped) return;
  if (restart(tryNumber > 1)) return;
  if (tryNumber >= kRestartTries) {
    started = false;
    if (captureEnded) captureEnded();
    return;
  }
  restarting = true;
  mainQueue.postAfter(kRestartPause, [self = weak_from_this(), tryNumber] {
    if (auto engine = self.lock()) engine->attempt(tryNumber + 1);
  });
}

bool RestartingEngine::restart(bool freshEngine) {
  if (freshEngine) {
    // The same engine did not start again: it is retired, and a new one takes its place.
    native->stopObserving();
    observing = false;
    if (tap) native->removeTap(tap->bus);
    native->stop();
    retired.push_back(native);
    native = makeNative();
    observe();
  } else if (tap) {
    native->removeTap(tap->bus);
  }
  // Without a format the tap takes the bus's current one: a format read before the change
  // would be refused.
  if (tap && native->installTap(tap->bus, tap->bufferSize, std::nullopt, tap->block)) return false;
  if (native->prepare()) return false;
  return !native->start();
}

}  // namespace quillmate::layers
