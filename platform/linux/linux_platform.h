// The platform of the product on Linux: PulseAudio capture and pocketsphinx recognition.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/model_search.h"
#include "platform/platform.h"

namespace quillmate::linux_platform {

class LinuxPlatform final : public Platform {
 public:
  // Speech models are looked for where `models` says; the recognizer keeps its channel estimate
  // in `stateFolder`, if there is one.
  LinuxPlatform(ModelSearch models, std::optional<std::string> stateFolder);

  std::shared_ptr<AudioEngine> makeAudioEngine() override;
  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override;
  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override;
  int64_t authorizationStatusForMediaType(MediaType type) override;
  void requestAccessForMediaType(MediaType type, std::function<void(bool)> answer) override;
  void requestAuthorization(std::function<void(int64_t)> answer) override;
  // What a Linux user needs is a model folder, not a system setting.
  std::optional<std::string> unavailableMessage() override;

 private:
  ModelSearch models;
  std::optional<std::string> stateFolder;
};

}  // namespace quillmate::linux_platform
