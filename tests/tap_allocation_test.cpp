// The tap runs on the audio thread, where an allocation can stall capture: it must append each
// buffer to the request and do nothing else, and the request must take it without allocating. This
// test replaces the global allocator to count allocations, so it is built without the sanitizers,
// which replace it themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/layers/restarting_engine.h"
#include "platform/layers/segmented_recognition.h"
#include "platform/scripted/virtual_main_queue.h"
#ifdef QUILLMATE_LINUX_PLATFORM
#include "platform/linux/sphinx_recognizer.h"
#endif
#include "session/dictation.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace quillmate {
namespace {

// Keeps the tap that the session installs so the test can call it as the audio thread would.
class TapKeeper final : public InputNode, public AudioEngine {
 public:
  AudioFormat outputFormat(int) override { return {48000.0, 2}; }
  void installTap(int, uint32_t, AudioFormat, TapBlock block) override { tap = std::move(block); }
  void removeTap(int) override {}
  InputNode& inputNode() override { return *this; }
  void prepare() override {}
  std::optional<Error> start(CaptureEnded) override { return std::nullopt; }
  void stop() override {}
  TapBlock tap;
};

class CountingRequest final : public RecognitionRequest {
 public:
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override { frames += buffer.frameLength; }
  void endAudio() override {}
  uint64_t frames = 0;
};

class Task final : public RecognitionTask {
 public:
  void cancel() override {}
};

class Recognizer final : public SpeechRecognizer {
 public:
  bool isAvailable() override { return true; }
  bool supportsOnDeviceRecognition() override { return true; }
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest>,
                                                   ResultHandler) override {
    return std::make_shared<Task>();
  }
};

class TestPlatform final : public Platform {
 public:
  std::shared_ptr<AudioEngine> makeAudioEngine() override { return engine; }
  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale&) override {
    return std::make_shared<Recognizer>();
  }
  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override { return request; }
  int64_t authorizationStatusForMediaType(MediaType) override { return authorization::kAuthorized; }
  void requestAccessForMediaType(MediaType, std::function<void(bool)>) override {}
  void requestAuthorization(std::function<void(int64_t)>) override {}
  std::shared_ptr<TapKeeper> engine = std::make_shared<TapKeeper>();
  std::shared_ptr<CountingRequest> request = std::make_shared<CountingRequest>();
};

TEST(Tap, AppendsEachBufferWithoutAllocating) {
  TestPlatform platform;
  scripted::VirtualMainQueue queue;
  auto session = std::make_shared<Dictation>(
      SessionContext{platform, queue, {"quillmate-dictate"}, std::chrono::seconds(1), [](int) {}});
  ::testing::internal::CaptureStdout();
  session->listen();
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(platform.engine->tap);

  float samples[1024 * 2] = {};
  AudioPCMBuffer buffer{{48000.0, 2}, SampleType::float32, samples, 1024};
  long before = allocations.load();
  for (int i = 0; i < 100; ++i) platform.engine->tap(buffer, AudioTime{i * 1024});
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_EQ(platform.request->frames, 100u * 1024);
  // The tap keeps the request alive, not the session.
  EXPECT_EQ(session.use_count(), 1);
}

// Where the recognizer works in segments, the tap's request hands each buffer to the current
// segment's native request: that hand-over must not allocate either, across a switch.
TEST(Tap, TheSegmentedRequestHandsOverWithoutAllocating) {
  Recognizer native;
  scripted::VirtualMainQueue queue;
  auto recognizer = std::make_shared<layers::SegmentedRecognizer>(
      std::shared_ptr<SpeechRecognizer>(&native, [](SpeechRecognizer*) {}), queue);
  auto shared = recognizer->makeRequest([] { return std::make_shared<CountingRequest>(); });
  auto& request = *shared;
  auto task = recognizer->recognitionTask(shared, [](auto, auto) {});
  float samples[1024] = {};
  AudioPCMBuffer buffer{{48000.0, 1}, SampleType::float32, samples, 1024};
  long before = allocations.load();
  for (int i = 0; i < 100; ++i) request.appendAudioPCMBuffer(buffer);
  EXPECT_EQ(allocations.load() - before, 0);
  recognizer->beginSegment();  // on the main queue, where allocating is fine
  before = allocations.load();
  for (int i = 0; i < 100; ++i) request.appendAudioPCMBuffer(buffer);
  EXPECT_EQ(allocations.load() - before, 0);
}

// Keeps the tap that the capture layer installs on its native engine.
class NativeTapKeeper final : public layers::NativeAudioEngine {
 public:
  AudioFormat outputFormat(int) override { return {48000.0, 1}; }
  std::optional<Error> installTap(int, uint32_t, std::optional<AudioFormat>,
                                  TapBlock block) override {
    tap = std::move(block);
    return std::nullopt;
  }
  void removeTap(int) override {}
  std::optional<Error> prepare() override { return std::nullopt; }
  std::optional<Error> start() override { return std::nullopt; }
  void stop() override {}
  bool isRunning() override { return true; }
  void observeConfigurationChanges(std::function<void()>) override {}
  void stopObserving() override {}
  TapBlock tap;
};

// The capture layer counts each buffer on its way to the session's tap, so that it can tell a
// tap that went quiet: the count must not allocate either.
TEST(Tap, TheCaptureLayerCountsBuffersWithoutAllocating) {
  auto native = std::make_shared<NativeTapKeeper>();
  scripted::VirtualMainQueue queue;
  auto engine =
      std::make_shared<layers::RestartingEngine>([native] { return native; }, queue, [] {});
  uint64_t frames = 0;
  engine->installTap(
      kInputBus, 1024, {48000.0, 1},
      [&](const AudioPCMBuffer& buffer, const AudioTime&) { frames += buffer.frameLength; });
  ASSERT_EQ(engine->start([](CaptureEnd) {}), std::nullopt);
  ASSERT_TRUE(native->tap);
  float samples[1024] = {};
  AudioPCMBuffer buffer{{48000.0, 1}, SampleType::float32, samples, 1024};
  long before = allocations.load();
  for (int i = 0; i < 100; ++i) native->tap(buffer, AudioTime{i * 1024});
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_EQ(frames, 100u * 1024);
  engine->stop();
}

#ifdef QUILLMATE_LINUX_PLATFORM
TEST(Tap, TheLinuxRequestTakesBuffersWithoutAllocating) {
  std::vector<float> stereo(1024 * 2, 0.25f);
  std::vector<int16_t> mono(4096, 1000);
  const AudioPCMBuffer buffers[] = {
      {{48000.0, 2}, SampleType::float32, stereo.data(), 1024},
      {{44100.0, 1}, SampleType::int16, mono.data(), 4096},  // longer than one mixing step
  };
  for (const AudioPCMBuffer& buffer : buffers) {
    auto tapped = linux_platform::makeSphinxRequest();
    long before = allocations.load();
    for (int i = 0; i < 100; ++i) tapped->appendAudioPCMBuffer(buffer);
    EXPECT_EQ(allocations.load() - before, 0);
  }
}
#endif

}  // namespace
}  // namespace quillmate
