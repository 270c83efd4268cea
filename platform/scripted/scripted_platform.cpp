#include "platform/scripted/scripted_platform.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <thread>
#include <utility>

namespace quillmate::scripted {
namespace {

class ScriptedRequest final : public RecognitionRequest {
 public:
  ScriptedRequest(std::shared_ptr<CallLog> log, std::shared_ptr<std::atomic<uint64_t>> frames)
      : log(std::move(log)), frames(std::move(frames)) {}

  void setRequiresOnDeviceRecognition(bool required) override {
    log->record("setRequiresOnDeviceRecognition " + std::to_string(required ? 1 : 0));
  }
  void setShouldReportPartialResults(bool report) override {
    log->record("setShouldReportPartialResults " + std::to_string(report ? 1 : 0));
  }
  void setTaskHint(int64_t hint) override { log->record("setTaskHint " + std::to_string(hint)); }

  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    frames->fetch_add(buffer.frameLength, std::memory_order_relaxed);
  }

  void endAudio() override {
    log->record("endAudio");
    if (audioEnded) return;
    audioEnded = true;
    if (onAudioEnded) onAudioEnded();
  }

  // Set by the task: schedules the results that count from the end of audio.
  std::function<void()> onAudioEnded;

 private:
  std::shared_ptr<CallLog> log;
  std::shared_ptr<std::atomic<uint64_t>> frames;
  bool audioEnded = false;
};

class ScriptedTask final : public RecognitionTask {
 public:
  explicit ScriptedTask(std::shared_ptr<CallLog> log) : log(std::move(log)) {}
  void cancel() override { log->record("cancel"); }

 private:
  std::shared_ptr<CallLog> log;
};

class ScriptedRecognizer final : public SpeechRecognizer {
 public:
  ScriptedRecognizer(const Scenario& scenario, Delivery delivery, std::shared_ptr<CallLog> log)
      : scenario(scenario), delivery(std::move(delivery)), log(std::move(log)) {}

  bool isAvailable() override {
    log->record("isAvailable");
    return scenario.available;
  }
  bool supportsOnDeviceRecognition() override {
    log->record("supportsOnDeviceRecognition");
    return scenario.onDevice;
  }

  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    log->record("recognitionTaskWithRequest");
    deliver(ScriptedResult::From::taskCreated, handler);
    // Only this platform's own requests reach its recognizer.
    auto& scripted = static_cast<ScriptedRequest&>(*request);
    scripted.onAudioEnded = [this, handler] { deliver(ScriptedResult::From::audioEnded, handler); };
    return std::make_shared<ScriptedTask>(log);
  }

 private:
  void deliver(ScriptedResult::From from, const ResultHandler& handler) {
    for (const ScriptedResult& scripted : scenario.results) {
      if (scripted.from != from) continue;
      delivery(scripted.after, [handler, scripted] { handler(scripted.result, scripted.error); });
    }
  }

  const Scenario& scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> log;
};

class ScriptedInputNode final : public InputNode {
 public:
  ScriptedInputNode(AudioFormat format, std::shared_ptr<CallLog> log)
      : format(format), log(std::move(log)) {}

  AudioFormat outputFormat(int bus) override {
    log->record("outputFormatForBus " + std::to_string(bus));
    return format;
  }
  void installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) override {
    log->record("installTapOnBus " + std::to_string(bus) + " " + std::to_string(bufferSize));
    std::lock_guard lock(tapMutex);
    tap = std::move(block);
  }
  void removeTap(int bus) override {
    log->record("removeTapOnBus " + std::to_string(bus));
    std::lock_guard lock(tapMutex);
    tap = nullptr;
  }

  // On the engine's audio thread. The lock hands the tap over between threads: once removeTap
  // returns, no call of the old block is still running.
  void feed(const AudioPCMBuffer& buffer, const AudioTime& time) {
    std::lock_guard lock(tapMutex);
    if (tap) tap(buffer, time);
  }

  const AudioFormat format;

 private:
  std::shared_ptr<CallLog> log;
  std::mutex tapMutex;
  TapBlock tap;
};

class ScriptedEngine final : public AudioEngine {
 public:
  ScriptedEngine(const Scenario& scenario, Delivery delivery, std::shared_ptr<CallLog> log)
      : scenario(scenario), delivery(std::move(delivery)), log(log), input(scenario.input, log) {}
  ~ScriptedEngine() override { stopFeeding(); }

  InputNode& inputNode() override {
    log->record("inputNode");
    return input;
  }
  void prepare() override { log->record("prepare"); }
  std::optional<Error> start(CaptureEnded ended) override {
    log->record("startAndReturnError");
    if (scenario.engineStartError) return Error{*scenario.engineStartError};
    if (!audioThread.joinable()) {
      running = true;
      audioThread = std::thread([this] { feed(); });
    }
    for (auto after : scenario.captureEnds) delivery(after, ended);
    return std::nullopt;
  }
  void stop() override {
    log->record("stop");
    stopFeeding();
  }

 private:
  // Feeds silent 1024-frame buffers at the input's pace while the engine runs.
  void feed() {
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
    std::unique_lock lock(runMutex);
    while (running) {
      lock.unlock();
      input.feed(buffer, time);
      time.sampleTime += kFrames;
      lock.lock();
      wake.wait_for(lock, period, [this] { return !running; });
    }
  }

  void stopFeeding() {
    {
      std::lock_guard lock(runMutex);
      running = false;
    }
    wake.notify_all();
    if (audioThread.joinable()) audioThread.join();
  }

  const Scenario& scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> log;
  ScriptedInputNode input;
  std::mutex runMutex;
  std::condition_variable wake;
  bool running = false;
  std::thread audioThread;
};

}  // namespace

CallLog::CallLog(std::optional<std::string> path) : path(std::move(path)) {}

void CallLog::record(const std::string& call) {
  std::lock_guard lock(mutex);
  recorded.push_back(call);
  if (path) std::ofstream(*path, std::ios::app) << call << '\n';
}

std::vector<std::string> CallLog::calls() {
  std::lock_guard lock(mutex);
  return recorded;
}

ScriptedPlatform::ScriptedPlatform(Scenario scenario, Delivery delivery,
                                   std::shared_ptr<CallLog> log)
    : scenario(std::move(scenario)), delivery(std::move(delivery)), callLog(std::move(log)) {}

std::shared_ptr<AudioEngine> ScriptedPlatform::makeAudioEngine() {
  return std::make_shared<ScriptedEngine>(scenario, delivery, callLog);
}

std::shared_ptr<SpeechRecognizer> ScriptedPlatform::makeSpeechRecognizer(const Locale& locale) {
  callLog->record("initWithLocale " + locale.identifier.value_or(scenario.currentLocale));
  if (!scenario.recognizerExists) return nullptr;
  return std::make_shared<ScriptedRecognizer>(scenario, delivery, callLog);
}

std::shared_ptr<RecognitionRequest> ScriptedPlatform::makeRecognitionRequest() {
  return std::make_shared<ScriptedRequest>(callLog, appended);
}

uint64_t ScriptedPlatform::framesAppended() const { return appended->load(); }

int64_t ScriptedPlatform::authorizationStatusForMediaType(MediaType) {
  callLog->record("authorizationStatusForMediaType");
  return scenario.microphone.status;
}

void ScriptedPlatform::requestAccessForMediaType(MediaType, std::function<void(bool)> answer) {
  callLog->record("requestAccessForMediaType");
  delivery(
      scenario.microphone.answerAfter,
      [answer = std::move(answer), granted = scenario.microphone.granted] { answer(granted); });
}

void ScriptedPlatform::requestAuthorization(std::function<void(int64_t)> answer) {
  callLog->record("requestAuthorization");
  delivery(scenario.speech.answerAfter,
           [answer = std::move(answer), status = scenario.speech.status] { answer(status); });
}

}  // namespace quillmate::scripted
