#include "platform/layers/restarting_engine.h"

#include <utility>

namespace quillmate::layers {
namespace {

// What the session reads while the input is not ready yet and none was ever seen. It only has to
// pass the session's check: the tap goes in with the format the input then reports.
constexpr AudioFormat kPlaceholder{48000.0, 1};

bool sameFormat(const AudioFormat& a, const AudioFormat& b) {
  return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount;
}

}  // namespace

RestartingEngine::RestartingEngine(MakeNativeEngine makeNativeEngine, MainQueue& queue,
                                   std::function<void()> onFormatChange)
    : makeNative(std::move(makeNativeEngine)),
      mainQueue(queue),
      formatChanged(std::move(onFormatChange)),
      native(makeNative()) {}

AudioFormat RestartingEngine::outputFormat(int bus) {
  AudioFormat format = native->outputFormat(bus);
  if (!usable(format)) return lastUsable.value_or(kPlaceholder);
  lastUsable = format;
  return format;
}

void RestartingEngine::installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) {
  tap = Tap{bus, bufferSize, std::move(block)};
}

void RestartingEngine::removeTap(int bus) {
  tap.reset();
  native->removeTap(bus);
}

std::optional<Error> RestartingEngine::start(CaptureEnded ended) {
  captureEnded = std::move(ended);
  started = true;
  checkLater();
  // The engine the session asked for its format takes the first try.
  bringUp(false);
  return std::nullopt;
}

void RestartingEngine::stop() {
  stopped = true;
  engineStarted = false;
  if (observing) {
    native->stopObserving();
    observing = false;
  }
  native->stop();
}

void RestartingEngine::bringUp(bool freshEngine) {
  bringingUp = BringUp{mainQueue.now(), RetryWaits{}, std::nullopt};
  attempt(freshEngine);
}

void RestartingEngine::attempt(bool freshEngine) {
  if (stopped || !bringingUp) return;
  if (freshEngine) replaceEngine();
  observe();  // before the start, so that a change during it is not missed
  int bus = tap ? tap->bus : 0;
  AudioFormat format = native->outputFormat(bus);
  if (!usable(format)) {
    // Read again later, on a fresh engine: an engine keeps the first format its input saw.
    if (sinceBringUp() + kFormatPoll > kFormatBudget) return giveUp(CaptureEnd::Reason::noInput);
    return later(kFormatPoll, &RestartingEngine::attemptFresh);
  }
  lastUsable = format;
  // Capture in another format is a new recognition segment, so that no native request sees two
  // formats; in the same format the request goes on taking buffers.
  if (buffersFormat && !sameFormat(*buffersFormat, format)) formatChanged();
  buffersFormat = format;
  if (tap) {
    if (auto refused = native->installTap(bus, tap->bufferSize, format, counting(tap->block))) {
      return tryAgain(*refused);
    }
  }
  if (auto refused = native->prepare()) return tryAgain(*refused);
  if (auto failure = native->start()) return tryAgain(*failure);
  // Up only once the first buffer arrives, which the check looks for.
  engineStarted = true;
  lastBufferAt = mainQueue.now();
}

void RestartingEngine::tryAgain(Error why) {
  engineStarted = false;
  bringingUp->lastFailure = std::move(why);
  auto wait = bringingUp->waits.next();
  if (sinceBringUp() + wait > kStartBudget) return giveUp(CaptureEnd::Reason::couldNotStart);
  later(wait, &RestartingEngine::attemptFresh);
}

void RestartingEngine::giveUp(CaptureEnd::Reason reason) {
  std::optional<Error> lastFailure = bringingUp ? bringingUp->lastFailure : std::nullopt;
  bringingUp.reset();
  engineStarted = false;
  started = false;
  CaptureEnd end;
  if (heard) {
    // Words may have been heard: they stand, as for any capture that ends by itself.
    end.reason = CaptureEnd::Reason::byItself;
  } else if (reason == CaptureEnd::Reason::noInput) {
    end.reason = reason;
  } else {
    end.reason = CaptureEnd::Reason::couldNotStart;
    end.error = lastFailure.value_or(Error{kNoSound});
  }
  if (captureEnded) captureEnded(std::move(end));
}

void RestartingEngine::check() {
  if (stopped || !started) return;
  checkLater();
  if (!engineStarted) return;  // between two tries
  if (buffersArrived()) return;
  if (mainQueue.now() - lastBufferAt < kSilentTap) return;
  // An engine that says it runs but delivers nothing is as dead as one that stopped.
  if (bringingUp) return tryAgain(Error{kNoSound});
  restart();
}

bool RestartingEngine::buffersArrived() {
  uint64_t count = buffers->load(std::memory_order_relaxed);
  if (count == buffersSeen) return false;
  buffersSeen = count;
  lastBufferAt = mainQueue.now();
  heard = true;
  bringingUp.reset();  // the first buffer: capture is up
  return true;
}

void RestartingEngine::changed() {
  if (stopped || !started) return;
  if (engineStarted) buffersArrived();
  // A bring-up that has not heard its engine yet watches it itself: a start that renegotiates
  // the input posts a change of its own, which must not start yet another bring-up.
  if (bringingUp) return;
  // Some changes are posted while the engine still runs: capture goes on as it is, and the check
  // notices if its buffers stop.
  if (native->isRunning()) return;
  restart();
}

void RestartingEngine::restart() {
  if (!restarts.allow(mainQueue.now())) return giveUp(CaptureEnd::Reason::byItself);
  engineStarted = false;
  bringUp(true);
}

void RestartingEngine::replaceEngine() {
  if (observing) native->stopObserving();
  observing = false;
  if (tap) native->removeTap(tap->bus);
  native->stop();
  retired.push_back(native);
  native = makeNative();
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

void RestartingEngine::later(std::chrono::milliseconds delay, void (RestartingEngine::*step)()) {
  uint64_t mine = ++scheduled;
  mainQueue.postAfter(delay, [self = weak_from_this(), mine, step] {
    auto engine = self.lock();
    if (engine && engine->scheduled == mine) (engine.get()->*step)();
  });
}

void RestartingEngine::checkLater() {
  mainQueue.postAfter(kBufferCheck, [self = weak_from_this()] {
    if (auto engine = self.lock()) engine->check();
  });
}

TapBlock RestartingEngine::counting(TapBlock block) {
  // On the audio thread: one relaxed increment before the session's own block, no allocation.
  return [count = buffers, block = std::move(block)](const AudioPCMBuffer& buffer,
                                                     const AudioTime& time) {
    count->fetch_add(1, std::memory_order_relaxed);
    block(buffer, time);
  };
}

MainQueue::Duration RestartingEngine::sinceBringUp() { return mainQueue.now() - bringingUp->began; }

}  // namespace quillmate::layers
