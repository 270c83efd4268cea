#include "platform/linux/linux_platform.h"

#include <thread>

namespace quillmate::linux_platform {
namespace {

constexpr int64_t kAuthorized = 3;

// No recognizer is installed yet, so no session gets as far as the microphone: this input has
// no format, and the engine never captures.
class NoInput final : public InputNode {
 public:
  AudioFormat outputFormat(int) override { return {}; }
  void installTap(int, uint32_t, AudioFormat, TapBlock) override {}
  void removeTap(int) override {}
};

class Engine final : public AudioEngine {
 public:
  InputNode& inputNode() override { return input; }
  void prepare() override {}
  std::optional<Error> start() override { return Error{"No audio input is available."}; }
  void stop() override {}

 private:
  NoInput input;
};

class Request final : public RecognitionRequest {
 public:
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}
  void appendAudioPCMBuffer(const AudioPCMBuffer&) override {}
  void endAudio() override {}
};

}  // namespace

std::shared_ptr<AudioEngine> LinuxPlatform::makeAudioEngine() { return std::make_shared<Engine>(); }

std::shared_ptr<SpeechRecognizer> LinuxPlatform::makeSpeechRecognizer(const Locale&) {
  return nullptr;
}

std::shared_ptr<RecognitionRequest> LinuxPlatform::makeRecognitionRequest() {
  return std::make_shared<Request>();
}

// Linux desktops keep no consent record for the microphone or for speech recognition.
int64_t LinuxPlatform::authorizationStatusForMediaType(MediaType) { return kAuthorized; }

void LinuxPlatform::requestAccessForMediaType(MediaType, std::function<void(bool)> answer) {
  std::thread([answer = std::move(answer)] { answer(true); }).detach();
}

void LinuxPlatform::requestAuthorization(std::function<void(int64_t)> answer) {
  std::thread([answer = std::move(answer)] { answer(kAuthorized); }).detach();
}

}  // namespace quillmate::linux_platform
