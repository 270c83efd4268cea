// The recognition layer over native tasks that end by themselves: what it passes on to the
// session, step by step, and what it asks of the native recognizer.
#include "platform/layers/segmented_recognition.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/layers/transcript_join.h"
#include "platform/scripted/virtual_main_queue.h"

namespace quillmate::layers {
namespace {

using namespace std::chrono_literals;

struct NativeRequest final : RecognitionRequest {
  void setRequiresOnDeviceRecognition(bool required) override { onDevice = required; }
  void setShouldReportPartialResults(bool report) override { partials = report; }
  void setTaskHint(int64_t value) override { hint = value; }
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    frames.fetch_add(buffer.frameLength, std::memory_order_relaxed);
  }
  void endAudio() override {
    ++audioEnds;
    if (onEndAudio) onEndAudio();
  }
  std::function<void()> onEndAudio;
  bool onDevice = false;
  bool partials = false;
  int64_t hint = 0;
  std::atomic<uint64_t> frames{0};
  int audioEnds = 0;
};

struct NativeTask final : RecognitionTask {
  void cancel() override { cancelled = true; }
  bool cancelled = false;
};

struct NativeRecognizer final : SpeechRecognizer {
  explicit NativeRecognizer(MainQueue& queue) : queue(queue) {}
  bool isAvailable() override { return true; }
  bool supportsOnDeviceRecognition() override { return true; }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    requests.push_back(std::static_pointer_cast<NativeRequest>(request));
    handlers.push_back(std::move(handler));
    startedAt.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(queue.now()));
    tasks.push_back(std::make_shared<NativeTask>());
    return tasks.back();
  }
  std::vector<std::shared_ptr<NativeRequest>> requests;
  std::vector<ResultHandler> handlers;
  std::vector<std::shared_ptr<NativeTask>> tasks;
  std::vector<std::chrono::milliseconds> startedAt;  // of each task, on the queue's clock
  MainQueue& queue;
};

// What the layer passed on to the session's handler, as one comparable value.
struct Passed {
  std::optional<std::string> transcript;
  bool isFinal = false;
  std::optional<std::string> error;
  bool operator==(const Passed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Passed& passed) {
  return out << "{" << passed.transcript.value_or("<none>") << (passed.isFinal ? ", final" : "")
             << ", " << passed.error.value_or("<no error>") << "}";
}

// One layer over fakes, with the session's side recorded.
struct Layer {
  Layer() {
    request = recognizer.makeRequest([] { return std::make_shared<NativeRequest>(); });
    request->setRequiresOnDeviceRecognition(true);
    request->setShouldReportPartialResults(true);
    request->setTaskHint(1);
    task = recognizer.recognitionTask(
        request, [this](std::optional<RecognitionResult> result, std::optional<Error> error) {
          Passed got;
          if (result) got.transcript = result->bestTranscription.formattedString;
          got.isFinal = result && result->isFinal;
          if (error) got.error = error->localizedDescription;
          passed.push_back(got);
        });
  }

  void deliver(std::size_t index, std::optional<RecognitionResult> result,
               std::optional<Error> error) {
    native->handlers.at(index)(std::move(result), std::move(error));
    queue.runFor(std::chrono::milliseconds(0));
  }

  scripted::VirtualMainQueue queue;
  std::shared_ptr<NativeRecognizer> native = std::make_shared<NativeRecognizer>(queue);
  SegmentedRecognizer recognizer{native, queue};
  std::shared_ptr<SegmentedRequest> request;
  std::shared_ptr<RecognitionTask> task;
  std::vector<Passed> passed;
};

// A step of a case: a native task calls back, the session ends the audio, capture restarts, or
// time passes.
struct Step {
  enum class Kind { deliver, endAudio, boundary, wait } kind = Kind::deliver;
  std::size_t task = 0;
  std::optional<RecognitionResult> result;
  std::optional<Error> error;
  std::chrono::milliseconds waited{0};
};

Step partial(std::size_t task, std::string text) {
  return {Step::Kind::deliver, task, RecognitionResult{{std::move(text)}, false}, std::nullopt};
}
// A result that closes an utterance: the recognizer heard a pause after it.
Step closing(std::size_t task, std::string text) {
  return {Step::Kind::deliver, task, RecognitionResult{{std::move(text)}, false, true},
          std::nullopt};
}
Step wait(std::chrono::milliseconds span) {
  return {Step::Kind::wait, 0, std::nullopt, std::nullopt, span};
}
Step final(std::size_t task, std::string text) {
  return {Step::Kind::deliver, task, RecognitionResult{{std::move(text)}, true}, std::nullopt};
}
Step failure(std::size_t task, std::string description, bool nothingSaid = false) {
  return {Step::Kind::deliver, task, std::nullopt, Error{std::move(description), nothingSaid}};
}
Step withError(Step step, std::string description) {
  step.error = Error{std::move(description)};
  return step;
}
const Step kEndAudio{Step::Kind::endAudio, 0, std::nullopt, std::nullopt};
const Step kBoundary{Step::Kind::boundary, 0, std::nullopt, std::nullopt};

Passed words(std::string text) { return {std::move(text), false, std::nullopt}; }
Passed finalWords(std::string text) { return {std::move(text), true, std::nullopt}; }
Passed error(std::string description) { return {std::nullopt, false, std::move(description)}; }

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::vector<Passed> passed;
  std::size_t nativeTasks;
};

TEST(SegmentedRecognition, PassesOnOneTaskMadeOfSegments) {
  const Case cases[] = {
      {"partials pass through",
       {partial(0, "buy"), partial(0, "buy milk")},
       {words("buy"), words("buy milk")},
       1},
      {"a pause final starts a new segment and is not final",
       {partial(0, "Buy milk"), final(0, "Buy milk."), partial(1, "And eggs"), kEndAudio,
        final(1, "And eggs.")},
       {words("Buy milk"), words("Buy milk."), words("Buy milk. And eggs"),
        finalWords("Buy milk. And eggs.")},
       2},
      {"nothing said before the end starts a new segment and is dropped",
       {partial(0, "buy milk"), failure(0, "No speech detected", true), partial(1, "eggs")},
       {words("buy milk"), words("buy milk eggs")},
       2},
      {"nothing said after the end reaches the session",
       {partial(0, "buy"), kEndAudio, failure(0, "No speech detected", true)},
       {words("buy"), error("No speech detected")},
       1},
      {"any other error reaches the session unchanged",
       {partial(0, "buy"), failure(0, "Audio failed")},
       {words("buy"), error("Audio failed")},
       1},
      {"a partial with an error passes both",
       {withError(partial(0, "buy"), "Audio failed")},
       {{"buy", false, "Audio failed"}},
       1},
      {"an error with a final result is not looked at",
       {kEndAudio, withError(final(0, "buy"), "Audio failed")},
       {finalWords("buy")},
       1},
      {"a segment that gave its final result says nothing more",
       {final(0, "buy"), failure(0, "late"), partial(0, "late")},
       {words("buy")},
       2},
      {"an error from a retired segment closes it and is dropped",
       {partial(0, "a"), kBoundary, failure(0, "gone"), partial(1, "b"), kEndAudio, final(1, "b")},
       {words("a"), words("a b"), finalWords("a b")},
       2},
      {"the final result waits for a retired segment's final words",
       {partial(0, "a"), kBoundary, partial(1, "b"), kEndAudio, final(1, "b"), final(0, "a c")},
       {words("a"), words("a b"), words("a b"), finalWords("a c b")},
       2},
      {"nothing is passed on after the final result",
       {kEndAudio, final(0, "a"), partial(0, "b"), failure(0, "late")},
       {finalWords("a")},
       1},
      {"an empty segment adds no space",
       {final(0, ""), wait(100ms), partial(1, "hi"), final(1, "hi"), partial(2, "")},
       {words(""), words("hi"), words("hi"), words("hi")},
       3},
      {"segments of Chinese join without a space",
       {final(0, "你好"), partial(1, "世界")},
       {words("你好"), words("你好世界")},
       2},
      // Mended: each result was the segment's whole text, so a pause that reset it lost words.
      {"a pause that resets the task's text keeps every utterance",
       {partial(0, "Buy milk"), closing(0, "Buy milk"), partial(0, "and eggs"),
        closing(0, "and eggs"), partial(0, "bread"), kEndAudio, final(0, "bread")},
       {words("Buy milk"), words("Buy milk"), words("Buy milk and eggs"),
        words("Buy milk and eggs"), words("Buy milk and eggs bread"),
        finalWords("Buy milk and eggs bread")},
       1},
      {"an empty final after a pause removes nothing",
       {partial(0, "Buy milk"), closing(0, "Buy milk"), kEndAudio, final(0, "")},
       {words("Buy milk"), words("Buy milk"), finalWords("Buy milk")},
       1},
      {"utterances of two segments join in order",
       {closing(0, "a"), partial(0, "b"), final(0, "b"), closing(1, "c"), partial(1, "d")},
       {words("a"), words("a b"), words("a b"), words("a b c"), words("a b c d")},
       2},
      {"a boundary after the end of audio makes no segment",
       {kEndAudio, kBoundary, final(0, "a")},
       {finalWords("a")},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Layer layer;
    for (const Step& step : c.steps) {
      if (step.kind == Step::Kind::wait) layer.queue.runFor(step.waited);
      if (step.kind == Step::Kind::endAudio) layer.request->endAudio();
      if (step.kind == Step::Kind::boundary) layer.recognizer.beginSegment();
      if (step.kind == Step::Kind::deliver) layer.deliver(step.task, step.result, step.error);
    }
    EXPECT_EQ(layer.passed, c.passed);
    EXPECT_EQ(layer.native->tasks.size(), c.nativeTasks);
  }
}

TEST(SegmentedRecognition, EachNativeRequestHasTheSessionsSettingsAndItsOwnAudio) {
  Layer layer;
  float samples[256] = {};
  AudioPCMBuffer buffer{{48000.0, 1}, SampleType::float32, samples, 256};
  layer.request->appendAudioPCMBuffer(buffer);
  layer.deliver(0, RecognitionResult{{"a"}, true}, std::nullopt);
  layer.request->appendAudioPCMBuffer(buffer);
  layer.request->appendAudioPCMBuffer(buffer);
  ASSERT_EQ(layer.native->requests.size(), 2u);
  for (const auto& native : layer.native->requests) {
    EXPECT_TRUE(native->onDevice);
    EXPECT_TRUE(native->partials);
    EXPECT_EQ(native->hint, 1);
  }
  EXPECT_EQ(layer.native->requests[0]->frames, 256u);
  EXPECT_EQ(layer.native->requests[1]->frames, 512u);
  // The finished segment's audio was ended; the session's end reaches the current one.
  EXPECT_EQ(layer.native->requests[0]->audioEnds, 1);
  layer.request->endAudio();
  EXPECT_EQ(layer.native->requests[1]->audioEnds, 1);
  layer.task->cancel();
  for (const auto& native : layer.native->tasks) EXPECT_TRUE(native->cancelled);
}

// Mended: a task that failed at once, again and again, made segments as fast as the queue ran.
TEST(SegmentedRecognition, TasksThatEndAtOnceWithNoWordsBackOff) {
  Layer layer;
  float samples[16] = {};
  AudioPCMBuffer buffer{{16000.0, 1}, SampleType::float32, samples, 16};
  auto startOf = [&](std::size_t index) {
    while (layer.native->tasks.size() <= index) layer.queue.runFor(10ms);
  };
  auto nothingSaid = [&](std::size_t index) {
    layer.deliver(index, std::nullopt, Error{"No speech detected", true});
  };
  for (std::size_t index = 0; index < 7; ++index) {
    startOf(index);
    nothingSaid(index);
    layer.request->appendAudioPCMBuffer(buffer);  // taken while the next task backs off
  }
  startOf(7);
  layer.queue.runFor(600ms);  // longer than a fast end: the next task starts at once
  nothingSaid(7);
  startOf(8);
  layer.deliver(8, RecognitionResult{{"words"}, true}, std::nullopt);  // words reset the back-off
  startOf(9);
  nothingSaid(9);
  layer.request->appendAudioPCMBuffer(buffer);
  startOf(10);
  std::vector<std::chrono::milliseconds> gaps;
  for (std::size_t i = 1; i < layer.native->startedAt.size(); ++i) {
    gaps.push_back(layer.native->startedAt[i] - layer.native->startedAt[i - 1]);
  }
  EXPECT_EQ(gaps, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms, 800ms, 1000ms,
                                                          1000ms, 1000ms, 600ms, 0ms, 100ms}));
  // Each request took its buffers from the moment it was made, before its task started.
  for (std::size_t i = 0; i < layer.native->requests.size(); ++i) {
    bool appendedTo = (i >= 1 && i <= 7) || i == 10;
    EXPECT_EQ(layer.native->requests[i]->frames, appendedTo ? 16u : 0u) << i;
  }
}

TEST(SegmentedRecognition, TheNewRequestTakesTheBuffersBeforeTheOldOneEnds) {
  Layer layer;
  float samples[16] = {};
  AudioPCMBuffer buffer{{16000.0, 1}, SampleType::float32, samples, 16};
  // A buffer that the audio thread appends just as the old request's audio ends.
  layer.native->requests[0]->onEndAudio = [&] { layer.request->appendAudioPCMBuffer(buffer); };
  layer.deliver(0, RecognitionResult{{"a"}, true}, std::nullopt);
  ASSERT_EQ(layer.native->requests.size(), 2u);
  EXPECT_EQ(layer.native->requests[0]->frames, 0u);
  EXPECT_EQ(layer.native->requests[1]->frames, 16u);
}

TEST(SegmentedRecognition, ARequestMadeElsewhereIsRefused) {
  Layer layer;
  auto stranger = std::make_shared<NativeRequest>();
  std::optional<Error> failed;
  auto task = layer.recognizer.recognitionTask(
      stranger,
      [&](std::optional<RecognitionResult>, std::optional<Error> error) { failed = error; });
  ASSERT_TRUE(task);
  task->cancel();
  ASSERT_TRUE(failed);
  EXPECT_EQ(layer.native->tasks.size(), 1u);  // only the layer's own
}

TEST(SegmentedRecognition, ResultsAfterTheSessionDroppedItsTaskAreIgnored) {
  Layer layer;
  auto handler = layer.native->handlers[0];
  layer.task.reset();
  handler(RecognitionResult{{"late"}, false}, std::nullopt);
  layer.queue.runFor(std::chrono::milliseconds(0));
  EXPECT_TRUE(layer.passed.empty());
}

// The audio thread appends while the main thread switches segments: under ThreadSanitizer this
// proves the hand-over, and every buffer lands in exactly one native request.
TEST(SegmentedRecognition, TheAudioThreadHandsOverWithoutLosingABuffer) {
  Layer layer;
  constexpr std::size_t kSwitches = 200;
  float samples[16] = {};
  AudioPCMBuffer buffer{{16000.0, 1}, SampleType::float32, samples, 1};
  std::atomic<bool> stop{false};
  uint64_t appended = 0;
  // Appends for as long as the main thread switches segments, however the threads are scheduled.
  std::thread audio([&] {
    while (!stop) {
      layer.request->appendAudioPCMBuffer(buffer);
      ++appended;
    }
  });
  for (std::size_t index = 0; index < kSwitches; ++index) {
    layer.deliver(index, RecognitionResult{{"w"}, true}, std::nullopt);
    std::this_thread::yield();
  }
  stop = true;
  audio.join();
  uint64_t frames = 0;
  for (const auto& native : layer.native->requests) frames += native->frames;
  EXPECT_EQ(frames, appended);
  EXPECT_EQ(layer.native->requests.size(), kSwitches + 1);
}

TEST(TranscriptJoin, PutsOneSpaceWhereTheLanguageDoes) {
  struct Join {
    std::vector<std::string> parts;
    std::string joined;
  };
  const Join joins[] = {
      {{"Buy milk", "and eggs"}, "Buy milk and eggs"},
      {{"", "and eggs"}, "and eggs"},
      {{"Buy milk", ""}, "Buy milk"},
      {{"Buy milk", "", "and eggs"}, "Buy milk and eggs"},
      {{"Buy milk ", "and eggs"}, "Buy milk and eggs"},
      {{"Buy milk", "\u00A0eggs"}, "Buy milk\u00A0eggs"},
      {{"牛乳を買う", "卵も"}, "牛乳を買う卵も"},
      {{"ซื้อนม", "และไข่"}, "ซื้อนมและไข่"},
      {{"买牛奶。", "还有鸡蛋"}, "买牛奶。还有鸡蛋"},
      {{"東京", "Tokyo"}, "東京Tokyo"},
      {{"우유 사기", "계란도"}, "우유 사기 계란도"},  // Korean puts spaces between words
      {{"Купить молоко", "и яйца"}, "Купить молоко и яйца"},
      {{"Café", "olé"}, "Café olé"},
      {{"bad \xFF", "next"}, "bad \xFF next"},
  };
  for (const Join& join : joins) {
    std::string joined;
    for (const std::string& part : join.parts) appendTranscript(joined, part);
    EXPECT_EQ(joined, join.joined);
  }
}

}  // namespace
}  // namespace quillmate::layers
