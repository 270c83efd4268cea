// Capture and recognition: `listen`, the tap and the result handler.
#include <string>

#include "output/characters.h"
#include "output/status_line.h"
#include "session/dictation.h"
#include "session/messages.h"

namespace quillmate {
namespace {

constexpr int kInputBus = 0;
constexpr uint32_t kTapFrames = 1024;
constexpr int64_t kDictationHint = 1;

bool usable(const AudioFormat& format) {
  // Written so that a NaN sample rate fails too.
  return format.sampleRate > 0.0 && format.channelCount != 0;
}

}  // namespace

void Dictation::listen() {
  if (ended) return;
  if (!recognizer) return;
  auto newRequest = context.platform.makeRecognitionRequest();
  newRequest->setRequiresOnDeviceRecognition(true);
  newRequest->setShouldReportPartialResults(true);
  newRequest->setTaskHint(kDictationHint);
  request = newRequest;
  recognition = recognizer->recognitionTask(
      newRequest, [self = shared_from_this(), queue = &context.mainQueue](
                      std::optional<RecognitionResult> result, std::optional<Error> error) {
        queue->post([self, result = std::move(result), error = std::move(error)] {
          self->recognitionDelivered(result, error);
        });
      });

  InputNode& input = engine->inputNode();
  AudioFormat format = input.outputFormat(kInputBus);
  if (!usable(format)) {
    if (!ended) complete(std::string(messages::noMicrophoneInput));
    return;
  }
  // The tap holds the request, never the session, so the audio thread cannot keep a finished
  // session alive; it appends each buffer in place and does nothing else.
  input.installTap(kInputBus, kTapFrames, format,
                   [tapRequest = newRequest](const AudioPCMBuffer& buffer, const AudioTime&) {
                     tapRequest->appendAudioPCMBuffer(buffer);
                   });
  tapped = true;
  engine->prepare();
  // Capture that ends by itself (a device change, a dead audio server) is a stop request like
  // end-of-file: the words heard so far still reach the host, through the grace period.
  auto captureEnded = [self = shared_from_this(), queue = &context.mainQueue] {
    queue->post([self] { self->finish(); });
  };
  if (auto failure = engine->start(std::move(captureEnded))) {
    std::string message = std::string(messages::microphoneCouldNotStart);
    message += failure->localizedDescription;
    if (!ended) complete(std::move(message));
    return;
  }
  emit("listening");
}

void Dictation::recognitionDelivered(const std::optional<RecognitionResult>& result,
                                     const std::optional<Error>& error) {
  if (ended) return;
  if (result) {
    text = firstCharacters(result->bestTranscription.formattedString, kTranscriptLimit);
    emit("listening", text);
    // A final result ends the session successfully; an error that came with it is not looked at.
    if (result->isFinal) {
      complete();
      return;
    }
  }
  if (!error) return;
  if (finishing) {
    complete();
    return;
  }
  std::string message = std::string(messages::onDeviceDictation);
  message += error->localizedDescription;
  if (!ended) complete(std::move(message));
}

}  // namespace quillmate
