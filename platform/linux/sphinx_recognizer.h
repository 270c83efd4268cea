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

  // The layout of Debian's pocketsphinx models.
  static ModelFiles in(const std::string& folder);
  // The layout of a model folder installed for the helper: `acoustic-model/`, a binary
  // `language-model.lm.bin` or else a text ARPA `language-model.lm`, and `dictionary.dict`.
  static ModelFiles installed(const std::string& folder);
  // Every file the decoder will read is a readable regular file (after links are followed), and
  // the language model is whole.
  bool readable() const;
  // The language model is not cut short: a binary one ends with its vocabulary's last NUL, a
  // text (ARPA) one runs from "\data\" to "\end\". Reads a few kilobytes at most.
  bool languageModelIsWhole() const;
};

// A recognizer for one model. When the model is readable it starts loading it at once, on a
// thread of its own, so that the load overlaps start-up instead of delaying "listening".
std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(ModelFiles model);

// A request that takes what the tap appends (any rate, any channels, float or 16-bit samples)
// without allocating or waiting; its task turns it into the 16 kHz mono audio the model needs.
std::shared_ptr<RecognitionRequest> makeSphinxRequest();

// Seconds of audio appended to `request` (made by makeSphinxRequest) that its task has not yet
// taken: how far the decoder is behind capture. For the benchmarks.
double undecodedSeconds(const RecognitionRequest& request);

}  // namespace quillmate::linux_platform
