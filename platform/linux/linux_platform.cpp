#include "platform/linux/linux_platform.h"

#include <err.h>

#include <thread>

#include "platform/linux/locale_model.h"
#include "platform/linux/pulse_engine.h"
#include "platform/linux/sphinx_recognizer.h"

namespace quillmate::linux_platform {

using authorization::kAuthorized;

LinuxPlatform::LinuxPlatform(ModelSearch models, std::optional<std::string> stateFolder)
    : models(std::move(models)), stateFolder(std::move(stateFolder)) {
  // The decoder would otherwise log to standard error, which the helper never writes.
  err_set_logfp(nullptr);
}

std::shared_ptr<AudioEngine> LinuxPlatform::makeAudioEngine() {
  return std::make_shared<PulseEngine>();
}

std::shared_ptr<SpeechRecognizer> LinuxPlatform::makeSpeechRecognizer(const Locale& locale) {
  const std::string identifier = locale.identifier ? *locale.identifier : currentLocaleIdentifier();
  auto model = models.find(identifier);
  if (!model) return nullptr;
  // Every tag of the identifier names the same language; the last is the language alone.
  const std::string language = modelTagsFor(identifier).back();
  return makeSphinxRecognizer(std::move(*model), stateFolder, formatterFor(language));
}

std::shared_ptr<RecognitionRequest> LinuxPlatform::makeRecognitionRequest() {
  return makeSphinxRequest();
}

// Linux desktops keep no consent record for the microphone or for speech recognition, so both
// read as authorized; the answer still comes from another thread, as a platform's would.
int64_t LinuxPlatform::authorizationStatusForMediaType(MediaType) { return kAuthorized; }

void LinuxPlatform::requestAccessForMediaType(MediaType, std::function<void(bool)> answer) {
  std::thread([answer = std::move(answer)] { answer(true); }).detach();
}

std::optional<std::string> LinuxPlatform::unavailableMessage() {
  return "On-device speech recognition is unavailable for your current language. Install a "
         "speech model for it as the quillmate-dictate(1) manual page describes.";
}

void LinuxPlatform::requestAuthorization(std::function<void(int64_t)> answer) {
  std::thread([answer = std::move(answer)] { answer(kAuthorized); }).detach();
}

}  // namespace quillmate::linux_platform
