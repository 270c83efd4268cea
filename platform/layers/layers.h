// The platform layers composed once, for every platform whose native objects need them.
//
// Capture that restarts and recognition in segments meet at one point: when capture comes back
// on an input of another format, the latest task starts a new segment. This object owns that
// boundary, and the recognizer it makes recognises only the requests it makes, so the pairing of
// the two holds by construction. Each part may be composed on its own.
//
// The platform that holds this object outlives the session and everything made here.
#pragma once

#include <memory>

#include "platform/layers/native_engine.h"
#include "platform/layers/segmented_recognition.h"
#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate::layers {

class Layers {
 public:
  explicit Layers(MainQueue& mainQueue) : mainQueue(mainQueue) {}

  // Capture over the native engines that `makeNative` makes.
  std::shared_ptr<AudioEngine> audioEngine(MakeNativeEngine makeNative);
  // One task for the whole dictation over the native recognizer.
  std::shared_ptr<SpeechRecognizer> speechRecognizer(std::shared_ptr<SpeechRecognizer> native);
  // A request for the recognizer made last, over native requests from `makeNative`; a native
  // request where no recognizer was made here.
  std::shared_ptr<RecognitionRequest> recognitionRequest(MakeRequest makeNative);

 private:
  MainQueue& mainQueue;
  std::shared_ptr<SegmentedRecognizer> recognizer;
};

}  // namespace quillmate::layers
