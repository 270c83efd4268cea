#include "platform/scripted/scripted_platform.h"

#include <atomic>
#include <utility>

#include "platform/scripted/scripted_audio.h"
#include "platform/scripted/scripted_native_engine.h"

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
    std::size_t task = tasksMade++;
    deliver(task, ScriptedResult::From::taskCreated, handler);
    // Only this platform's own requests reach its recognizer.
    auto& scripted = static_cast<ScriptedRequest&>(*request);
    scripted.onAudioEnded = [this, task, handler] {
      deliver(task, ScriptedResult::From::audioEnded, handler);
    };
    return std::make_shared<ScriptedTask>(log);
  }

 private:
  void deliver(std::size_t task, ScriptedResult::From from, const ResultHandler& handler) {
    for (const ScriptedResult& scripted : scenario.results) {
      if (scripted.task != task || scripted.from != from) continue;
      delivery(scripted.after, [handler, scripted, log = log] {
        log->faultPoint("result");
        handler(scripted.result, scripted.error);
      });
    }
  }

  const Scenario& scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> log;
  std::size_t tasksMade = 0;  // on the main thread, where tasks are made
};

class ScriptedEngine final : public AudioEngine {
 public:
  ScriptedEngine(const Scenario& scenario, Delivery delivery, std::shared_ptr<CallLog> log)
      : scenario(scenario),
        delivery(std::move(delivery)),
        log(log),
        input(scenario.input, log),
        feeder(input) {}

  InputNode& inputNode() override {
    log->record("inputNode");
    return input;
  }
  void prepare() override { log->record("prepare"); }
  std::optional<Error> start(CaptureEnded ended) override {
    log->record("startAndReturnError");
    if (scenario.engineStartError) return Error{*scenario.engineStartError};
    feeder.start();
    for (auto after : scenario.captureEnds) delivery(after, [ended] { ended(CaptureEnd{}); });
    return std::nullopt;
  }
  void stop() override {
    log->record("stop");
    feeder.stop();
  }

 private:
  const Scenario& scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> log;
  ScriptedInputNode input;
  SilenceFeeder feeder;
};

}  // namespace

ScriptedPlatform::ScriptedPlatform(Scenario scenario, Delivery delivery, MainQueue& mainQueue,
                                   std::shared_ptr<CallLog> log)
    : scenario(std::move(scenario)),
      delivery(std::move(delivery)),
      callLog(std::move(log)),
      layers(mainQueue) {
  callLog->arm(this->scenario.fault);
}

std::shared_ptr<AudioEngine> ScriptedPlatform::makeAudioEngine() {
  if (!scenario.captureLayer) return std::make_shared<ScriptedEngine>(scenario, delivery, callLog);
  return layers.audioEngine(scriptedNativeEngines(scenario, delivery, callLog));
}

std::shared_ptr<SpeechRecognizer> ScriptedPlatform::makeSpeechRecognizer(const Locale& locale) {
  callLog->record("initWithLocale " + locale.identifier.value_or(scenario.currentLocale));
  if (!scenario.recognizerExists) return nullptr;
  auto native = std::make_shared<ScriptedRecognizer>(scenario, delivery, callLog);
  if (!scenario.segmented) return native;
  return layers.speechRecognizer(native);
}

std::shared_ptr<RecognitionRequest> ScriptedPlatform::makeRecognitionRequest() {
  auto makeNative = [log = callLog, frames = appended] {
    return std::make_shared<ScriptedRequest>(log, frames);
  };
  if (!scenario.segmented) return makeNative();
  return layers.recognitionRequest(makeNative);
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
