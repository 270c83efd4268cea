// The platform of the product on Linux: PulseAudio capture and pocketsphinx recognition.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quillmate::linux_platform {

class LinuxPlatform final : public Platform {
 public:
  // `modelRoot` holds one folder per installed model.
  explicit LinuxPlatform(std::string modelRoot);

  std::shared_ptr<AudioEngine> makeAudioEngine() override;
  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override;
  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override;
  int64_t authorizationStatusForMediaType(MediaType type) override;
  void requestAccessForMediaType(MediaType type, std::function<void(bool)> answer) override;
  void requestAuthorization(std::function<void(int64_t)> answer) override;

 private:
  std::string modelRoot;
};

}  // namespace quillmate::linux_platform
