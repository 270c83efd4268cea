// Capture over native engines that stop when the hardware changes: what the layer asks of them
// on each change, and when capture counts as ended.
#include "platform/layers/restarting_engine.h"

#include <gtest/gtest.h>

#include "platform/layers/input_format.h"
#include "platform/scripted/virtual_main_queue.h"

namespace quillmate::layers {
namespace {

using namespace std::chrono_literals;

// Shared by every fake engine of one test: the calls, numbered by engine, and the hardware.
struct Hardware {
  std::vector<std::string> calls;
  int startFailures = 0;  // the next N starts fail
  std::optional<Error> tapRefusal;
  std::optional<Error> prepareRefusal;
  int engines = 0;
};

class FakeEngine final : public NativeAudioEngine {
 public:
  FakeEngine(Hardware& hardware, int number) : hardware(hardware), number(number) {}

  AudioFormat outputFormat(int) override { return {48000.0, 1}; }
  std::optional<Error> installTap(int, uint32_t, std::optional<AudioFormat> format,
                                  TapBlock) override {
    record(format ? "installTap read-format" : "installTap current-format");
    return hardware.tapRefusal;
  }
  void removeTap(int) override { record("removeTap"); }
  std::optional<Error> prepare() override {
    record("prepare");
    return hardware.prepareRefusal;
  }
  std::optional<Error> start() override {
    record("start");
    if (hardware.startFailures > 0) {
      --hardware.startFailures;
      return Error{"busy"};
    }
    running = true;
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

  bool running = false;
  std::function<void()> observer;

 private:
  void record(const std::string& call) {
    hardware.calls.push_back(std::to_string(number) + " " + call);
  }
  Hardware& hardware;
  const int number;
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

  // The session's part of listen: tap, prepare, start.
  std::optional<Error> listen() {
    engine->inputNode().installTap(0, 1024, engine->inputNode().outputFormat(0),
                                   [](const AudioPCMBuffer&, const AudioTime&) {});
    engine->prepare();
    return engine->start([this] { ++ended; });
  }
  void settle() { queue.runFor(5s); }
  FakeEngine& latest() { return *natives.back(); }

  Hardware hardware;
  scripted::VirtualMainQueue queue;
  std::vector<std::shared_ptr<FakeEngine>> natives;
  std::shared_ptr<RestartingEngine> engine;
  int boundaries = 0;
  int ended = 0;
};

const std::vector<std::string> kListen{"0 installTap read-format", "0 observe", "0 prepare",
                                       "0 start"};

std::vector<std::string> listenThen(std::vector<std::string> more) {
  std::vector<std::string> calls = kListen;
  calls.insert(calls.end(), more.begin(), more.end());
  return calls;
}

TEST(RestartingEngine, AnswersEachChangeAsTheHardwareAllows) {
  struct Case {
    const char* name;
    bool keepsRunning;
    int startFailures;
    std::vector<std::string> calls;
    int boundaries;
    int ended;
  };
  const std::vector<std::string> sameEngine{"0 removeTap", "0 installTap current-format",
                                            "0 prepare", "0 start"};
  const std::vector<std::string> freshEngine1{
      "0 stopObserving", "0 removeTap", "0 stop", "1 observe", "1 installTap current-format",
      "1 prepare",       "1 start"};
  const std::vector<std::string> freshEngine2{
      "1 stopObserving", "1 removeTap", "1 stop", "2 observe", "2 installTap current-format",
      "2 prepare",       "2 start"};
  auto join = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> calls = kListen;
    for (auto& part : parts) calls.insert(calls.end(), part.begin(), part.end());
    return calls;
  };
  const Case cases[] = {
      {"a change while the engine runs changes nothing", true, 0, kListen, 0, 0},
      {"the same engine starts again", false, 0, join({sameEngine}), 1, 0},
      {"a fresh engine when the same one will not start", false, 1,
       join({sameEngine, freshEngine1}), 1, 0},
      {"a second fresh engine", false, 2, join({sameEngine, freshEngine1, freshEngine2}), 1, 0},
      {"three failed tries end capture", false, 3, join({sameEngine, freshEngine1, freshEngine2}),
       1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Capture capture;
    ASSERT_EQ(capture.listen(), std::nullopt);
    capture.hardware.startFailures = c.startFailures;
    capture.latest().change(c.keepsRunning);
    capture.settle();
    EXPECT_EQ(capture.hardware.calls, c.calls);
    EXPECT_EQ(capture.boundaries, c.boundaries);
    EXPECT_EQ(capture.ended, c.ended);
    // Every engine ever made is still alive, the retired ones included.
    for (const auto& native : capture.natives) EXPECT_GE(native.use_count(), 2);
  }
}

TEST(RestartingEngine, AChangeDuringStartUpIsNotMissed) {
  Capture capture;
  capture.engine->inputNode().installTap(0, 1024, {48000.0, 1},
                                         [](const AudioPCMBuffer&, const AudioTime&) {});
  capture.engine->prepare();
  capture.latest().change();  // between prepare and start, before the start took
  ASSERT_EQ(capture.engine->start([&] { ++capture.ended; }), std::nullopt);
  capture.latest().running = false;  // the change stopped it right after the start
  capture.settle();
  EXPECT_EQ(capture.boundaries, 1);
  EXPECT_TRUE(capture.latest().running);
}

TEST(RestartingEngine, StoppedCaptureIgnoresLaterChanges) {
  Capture capture;
  ASSERT_EQ(capture.listen(), std::nullopt);
  auto observer = capture.latest().observer;
  capture.engine->stop();
  capture.engine->inputNode().removeTap(0);
  observer();  // a notification already under way when the observer went
  capture.settle();
  EXPECT_EQ(capture.hardware.calls, listenThen({"0 stopObserving", "0 stop", "0 removeTap"}));
  EXPECT_EQ(capture.boundaries, 0);
}

TEST(RestartingEngine, AStopBetweenTriesEndsTheRestart) {
  Capture capture;
  ASSERT_EQ(capture.listen(), std::nullopt);
  capture.hardware.startFailures = 3;
  capture.latest().change();
  capture.queue.runFor(0ms);  // the first try fails
  capture.engine->stop();
  capture.settle();
  EXPECT_EQ(capture.natives.size(), 1u);
  EXPECT_EQ(capture.ended, 0);
}

TEST(RestartingEngine, ARefusedTapOrPrepareIsReportedByTheStart) {
  for (bool tap : {true, false}) {
    Capture capture;
    (tap ? capture.hardware.tapRefusal : capture.hardware.prepareRefusal) = Error{"mismatch"};
    auto failure = capture.listen();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->localizedDescription, "mismatch");
    EXPECT_EQ(capture.hardware.calls.back(), "0 prepare");  // the native engine was not started
  }
}

TEST(InputFormat, WaitsForAnInputThatIsNotReadyYet) {
  struct Case {
    const char* name;
    int unusableReads;  // reads before the format is usable
    std::chrono::milliseconds patience;
    int reads;
    std::chrono::milliseconds slept;
    bool usable;
  };
  const Case cases[] = {
      {"ready at once", 0, 1000ms, 1, 0ms, true},
      {"ready after three polls", 3, 1000ms, 4, 150ms, true},
      {"never ready within a second", 1000, 1000ms, 21, 1000ms, false},
      {"no patience: one read", 1000, 0ms, 1, 0ms, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int reads = 0;
    std::chrono::milliseconds slept{0};
    AudioFormat format = awaitUsableFormat(
        [&] {
          return ++reads > c.unusableReads ? AudioFormat{48000.0, 1} : AudioFormat{0.0, 1};
        },
        c.patience, [&](std::chrono::milliseconds span) { slept += span; });
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(slept, c.slept);
    EXPECT_EQ(usable(format), c.usable);
  }
}

}  // namespace
}  // namespace quillmate::layers
