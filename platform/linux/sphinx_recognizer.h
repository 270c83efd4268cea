// On-device recognition with pocketsphinx: the recognizer, its request and its task.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace quillmate::linux_platform {

// Where one installed model keeps its files.
struct ModelFiles {
  std::string acousticModel;  // a folder
  std::string languageModel;
  std::string dictionary;

  static ModelFiles in(const std::string& folder);
  // Every file the decoder will read is present and readable.
  bool readable() const;
};

// A recognizer for one model. When the model is readable it starts loading it at once, on a
// thread of its own, so that the load overlaps start-up instead of delaying "listening".
std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(ModelFiles model);

// A request that takes what the tap appends (any rate, any channels, float or 16-bit samples)
// without allocating or waiting; its task turns it into the 16 kHz mono audio the model needs.
std::shared_ptr<RecognitionRequest> makeSphinxRequest();

}  // namespace quillmate::linux_platform
