#include "platform/layers/layers.h"

#include <utility>

#include "platform/layers/restarting_engine.h"

namespace quillmate::layers {

std::shared_ptr<AudioEngine> Layers::audioEngine(MakeNativeEngine makeNative) {
  return std::make_shared<RestartingEngine>(std::move(makeNative), mainQueue, [this] {
    if (recognizer) recognizer->beginSegment();
  });
}

std::shared_ptr<SpeechRecognizer> Layers::speechRecognizer(
    std::shared_ptr<SpeechRecognizer> native) {
  recognizer = std::make_shared<SegmentedRecognizer>(std::move(native), mainQueue);
  return recognizer;
}

std::shared_ptr<RecognitionRequest> Layers::recognitionRequest(MakeRequest makeNative) {
  if (!recognizer) return makeNative();
  return recognizer->makeRequest(std::move(makeNative));
}

}  // namespace quillmate::layers
