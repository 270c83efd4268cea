// The platform of the product on Linux.
#pragma once

#include "platform/platform.h"

namespace quillmate::linux_platform {

class LinuxPlatform final : public Platform {
 public:
  std::shared_ptr<AudioEngine> makeAudioEngine() override;
  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override;
  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override;
  int64_t authorizationStatusForMediaType(MediaType type) override;
  void requestAccessForMediaType(MediaType type, std::function<void(bool)> answer) override;
  void requestAuthorization(std::function<void(int64_t)> answer) override;
};

}  // namespace quillmate::linux_platform
