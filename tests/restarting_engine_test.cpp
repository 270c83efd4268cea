// Capture over native engines that fail to start, stop when the hardware changes or go quiet:
// how the layer brings capture up and back, and when it gives up, on virtual time.
#include "platform/layers/restarting_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/scripted/virtual_main_queue.h"

namespace quillmate::layers {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Shared by every fake engine of one test: the calls, numbered by engine, and the hardware.
struct Hardware {
  explicit Hardware(scripted::VirtualMainQueue& queue) : queue(queue) {}
  scripted::VirtualMainQueue& queue;
  std::vector<std::string> calls;
  AudioFormat format{48000.0, 1};
  milliseconds unusableUntil{0};  // reads before then give 0 Hz
  milliseconds failsUntil{0};     // starts before then fail, as a headset that is not up yet
  int startFailures = 0;          // the next N starts fail
  int tapRefusals = 0;            // the next N taps raise
  bool silent = false;            // taps get no buffer
  bool changeOnStart = false;     // each start renegotiates the input: a change follows it
  int engines = 0;

  milliseconds now() { return std::chrono::duration_cast<milliseconds>(queue.now()); }
};

class FakeEngine final : public NativeAudioEngine {
 public:
  FakeEngine(Hardware& hardware, int number) : hardware(hardware), number(number) {}

  AudioFormat outputFormat(int) override {
    record("outputFormat");
    if (hardware.now() < hardware.unusableUntil) return {0.0, 0};
    return hardware.format;
  }
  std::optional<Error> installTap(int, uint32_t, std::optional<AudioFormat>,
                                  TapBlock block) override {
    record("installTap");
    if (hardware.tapRefusals > 0) {
      --hardware.tapRefusals;
      return Error{"format mismatch"};
    }
    tap = std::move(block);
    return std::nullopt;
  }
  void removeTap(int) override {
    record("removeTap");
    tap = nullptr;
  }
  std::optional<Error> prepare() override {
    record("prepare");
    return std::nullopt;
  }
  std::optional<Error> start() override {
    record("start");
    if (hardware.now() < hardware.failsUntil) return Error{"not ready"};
    if (hardware.startFailures > 0) {
      --hardware.startFailures;
      return Error{"busy"};
    }
    running = true;
    // After the bring-up has heard its first buffers, the renegotiated input posts a change.
    if (hardware.changeOnStart) hardware.queue.postAfter(400ms, [this] { change(); });
    return std::nullopt;
  }
  void stop() override {
    record("stop");
    running = false;
  }
  bool isRunning() override { return running; }
  void observeConfigurationChanges(std::function<void()> changed) override {
    record("observe");
    observer = std::move(changed);
  }
  void stopObserving() override {
    record("stopObserving");
    observer = nullptr;
  }

  // The hardware changes; the engine stops unless it keeps running through it.
  void change(bool keepsRunning = false) {
    if (!keepsRunning) running = false;
    if (observer) observer();
  }
  // The audio thread's part: one buffer, if this engine runs and its input delivers.
  void deliver() {
    static float samples[16] = {};
    if (running && tap && !hardware.silent) {
      tap(AudioPCMBuffer{hardware.format, SampleType::float32, samples, 16}, AudioTime{});
    }
  }

  bool running = false;
  std::function<void()> observer;

 private:
  void record(const std::string& call) {
    hardware.calls.push_back(std::to_string(number) + " " + call);
  }
  Hardware& hardware;
  const int number;
  TapBlock tap;
};

struct Capture {
  Capture() {
    engine = std::make_shared<RestartingEngine>(
        [this] {
          auto made = std::make_shared<FakeEngine>(hardware, hardware.engines++);
          natives.push_back(made);
          return made;
        },
        queue, [this] { ++boundaries; });
  }

  // The session's part of listen: format, tap, prepare, start.
  std::optional<Error> listen() {
    AudioFormat format = engine->inputNode().outputFormat(0);
    EXPECT_TRUE(usable(format));
    engine->inputNode().installTap(kInputBus, 1024, format,
                                   [this](const AudioPCMBuffer&, const AudioTime&) { ++buffers; });
    engine->prepare();
    return engine->start([this](CaptureEnd end) { ends.push_back(end); });
  }
  // Virtual time passes while the latest engine's input delivers a buffer every 20 ms.
  void run(milliseconds span) {
    for (milliseconds passed{0}; passed < span; passed += 20ms) {
      queue.runFor(20ms);
      natives.back()->deliver();
    }
  }
  FakeEngine& latest() { return *natives.back(); }
  int starts() const {
    return static_cast<int>(
        std::count_if(hardware.calls.begin(), hardware.calls.end(),
                      [](const std::string& call) { return call.ends_with(" start"); }));
  }

  scripted::VirtualMainQueue queue;
  Hardware hardware{queue};
  std::vector<std::shared_ptr<FakeEngine>> natives;
  std::shared_ptr<RestartingEngine> engine;
  std::vector<CaptureEnd> ends;
  int boundaries = 0;
  int buffers = 0;
};

// How a road ended: "" while capture runs, else the reason and the error's description.
std::string ending(const Capture& capture) {
  if (capture.ends.empty()) return "";
  const CaptureEnd& end = capture.ends.front();
  switch (end.reason) {
    case CaptureEnd::Reason::byItself:
      return "by itself";
    case CaptureEnd::Reason::noInput:
      return "no input";
    case CaptureEnd::Reason::couldNotStart:
      return "could not start: " + end.error.localizedDescription;
  }
  return "?";
}

TEST(RestartingEngine, TheFirstStartComesUpWithinItsBudget) {
  struct Case {
    const char* name;
    std::function<void(Hardware&)> hardware;
    std::string ending;
    int engines;
    int starts;
  };
  const Case cases[] = {
      {"it starts at once", [](Hardware&) {}, "", 1, 1},
      {"a start that fails is tried again on a fresh engine",
       [](Hardware& h) { h.startFailures = 1; }, "", 2, 2},
      {"a tap that raises is tried again", [](Hardware& h) { h.tapRefusals = 1; }, "", 2, 1},
      // Mended: the first failure used to be the session's "Microphone could not start".
      {"a headset that comes up after 2 s", [](Hardware& h) { h.failsUntil = 2000ms; }, "", 5, 5},
      {"a start that never works, after the budget, with the last try's words",
       [](Hardware& h) { h.startFailures = 100; }, "could not start: busy", 6, 6},
      // Mended: a tap that never got a buffer used to end as "done" with no words.
      {"no buffer ever arrives", [](Hardware& h) { h.silent = true; },
       std::string("could not start: ") + kNoSound, 3, 3},
      // Mended: the format was waited for by sleeping on the main thread, on the same engine.
      {"an input that is ready after 1 s, read on fresh engines",
       [](Hardware& h) { h.unusableUntil = 1000ms; }, "", 6, 1},
      {"an input that never becomes ready", [](Hardware& h) { h.unusableUntil = 60s; }, "no input",
       13, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Capture capture;
    c.hardware(capture.hardware);
    EXPECT_EQ(capture.listen(), std::nullopt);  // a failure only ever comes after the budget
    capture.run(6s);
    EXPECT_EQ(ending(capture), c.ending);
    EXPECT_LE(capture.ends.size(), 1u);
    EXPECT_EQ(capture.hardware.engines, c.engines);
    EXPECT_EQ(capture.starts(), c.starts);
    EXPECT_EQ(capture.buffers > 0, c.ending.empty());
    EXPECT_EQ(capture.boundaries, 0);
    // Every engine ever made is still alive, the retired ones included.
    for (const auto& native : capture.natives) EXPECT_GE(native.use_count(), 2);
  }
}

TEST(RestartingEngine, CaptureComesBackAfterAChangeOnAFreshEngine) {
  struct Case {
    const char* name;
    bool keepsRunning;
    std::function<void(Hardware&)> hardware;  // from the change on
    std::string ending;
    int engines;
    int boundaries;
  };
  const Case cases[] = {
      {"a change while the engine runs changes nothing", true, [](Hardware&) {}, "", 1, 0},
      {"the same format goes on in the same segment", false, [](Hardware&) {}, "", 2, 0},
      {"another format starts a new segment", false,
       [](Hardware& h) {
         h.format = {16000.0, 1};
       },
       "", 2, 1},
      // Mended: three tries 100 ms apart were spent before a headset was ready.
      {"a headset that is ready 2 s after the change", false,
       [](Hardware& h) { h.failsUntil = h.now() + 2000ms; }, "", 6, 0},
      {"tries that fail for the whole budget end capture by itself", false,
       [](Hardware& h) { h.startFailures = 100; }, "by itself", 7, 0},
      {"an input not ready for a while after the change", false,
       [](Hardware& h) { h.unusableUntil = h.now() + 700ms; }, "", 6, 0},
      {"an input that stays unusable ends capture by itself", false,
       [](Hardware& h) { h.unusableUntil = 60s; }, "by itself", 14, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Capture capture;
    ASSERT_EQ(capture.listen(), std::nullopt);
    capture.run(500ms);
    int heard = capture.buffers;
    ASSERT_GT(heard, 0);
    c.hardware(capture.hardware);
    capture.latest().change(c.keepsRunning);
    capture.run(6s);
    EXPECT_EQ(ending(capture), c.ending);
    EXPECT_EQ(capture.hardware.engines, c.engines);
    EXPECT_EQ(capture.boundaries, c.boundaries);
    if (c.ending.empty()) {
      EXPECT_GT(capture.buffers, heard + 100);
    }
  }
}

// Mended: an engine that said it ran while its tap got nothing looked like a quiet user.
TEST(RestartingEngine, ATapThatGoesQuietIsRestarted) {
  Capture capture;
  ASSERT_EQ(capture.listen(), std::nullopt);
  capture.run(500ms);
  capture.hardware.silent = true;
  capture.run(900ms);
  EXPECT_EQ(capture.hardware.engines, 1);  // under a second of silence is a pause
  capture.hardware.silent = false;         // the fresh engine will deliver
  capture.run(2s);
  EXPECT_EQ(capture.hardware.engines, 1);  // the tap came back by itself
  capture.hardware.silent = true;
  capture.run(1300ms);
  capture.hardware.silent = false;
  int before = capture.buffers;
  capture.run(1s);
  EXPECT_EQ(capture.hardware.engines, 2);
  EXPECT_GT(capture.buffers, before);
  EXPECT_EQ(ending(capture), "");
  EXPECT_EQ(capture.boundaries, 0);
}

// Mended: a start that renegotiated the input posted a change, which restarted capture without
// end, each time in a new segment.
TEST(RestartingEngine, RestartsThatFeedThemselvesEndCapture) {
  Capture capture;
  ASSERT_EQ(capture.listen(), std::nullopt);
  capture.run(500ms);
  capture.hardware.changeOnStart = true;
  capture.latest().change();
  capture.run(10s);
  EXPECT_EQ(ending(capture), "by itself");
  EXPECT_EQ(capture.hardware.engines, 1 + kMostRestarts);
  EXPECT_EQ(capture.boundaries, 0);
}

TEST(RestartingEngine, ARestartMakesTheseNativeCalls) {
  Capture capture;
  ASSERT_EQ(capture.listen(), std::nullopt);
  capture.run(500ms);
  capture.latest().change();
  capture.run(100ms);
  EXPECT_EQ(
      capture.hardware.calls,
      (std::vector<std::string>{
          // the session's listen: its format read, then the first try
          "0 outputFormat", "0 observe", "0 outputFormat", "0 installTap", "0 prepare", "0 start",
          // the change: the engine is retired and a fresh one read before its tap
          "0 stopObserving", "0 removeTap", "0 stop", "1 observe", "1 outputFormat", "1 installTap",
          "1 prepare", "1 start"}));
}

TEST(RestartingEngine, AStopEndsEveryTryAndIgnoresLaterChanges) {
  for (bool duringTries : {true, false}) {
    SCOPED_TRACE(duringTries ? "between tries" : "while capture runs");
    Capture capture;
    capture.hardware.startFailures = duringTries ? 100 : 0;
    ASSERT_EQ(capture.listen(), std::nullopt);
    capture.run(300ms);
    auto observer = capture.latest().observer;
    int engines = capture.hardware.engines;
    capture.engine->stop();
    capture.engine->inputNode().removeTap(kInputBus);
    if (observer) observer();  // a notification already under way when the observer went
    capture.run(6s);
    EXPECT_EQ(capture.hardware.engines, engines);
    EXPECT_TRUE(capture.ends.empty());
  }
}

TEST(CaptureBudget, WaitsGrowAndRestartsAreCounted) {
  RetryWaits waits;
  std::vector<milliseconds> got;
  for (int i = 0; i < 5; ++i) got.push_back(waits.next());
  EXPECT_EQ(got, (std::vector<milliseconds>{250ms, 500ms, 1000ms, 1000ms, 1000ms}));

  RestartWindow window;
  for (int i = 0; i < kMostRestarts; ++i) EXPECT_TRUE(window.allow(i * 1s));
  EXPECT_FALSE(window.allow(9s));
  EXPECT_TRUE(window.allow(30s));  // the old ones have left the window
}

}  // namespace
}  // namespace quillmate::layers
