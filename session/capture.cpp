// Capture and recognition: `listen`, the tap and the result handler.
#include <string>

#include "output/characters.h"
#include "output/status_line.h"
#include "session/dictation.h"
#include "session/messages.h"

namespace quillmate {
namespace {

constexpr uint32_t kTapFrames = 1024;
constexpr int64_t kDictationHint = 1;

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
  auto captureEnded = [self = shared_from_this(), queue = &context.mainQueue](CaptureEnd end) {
    queue->post([self, end = std::move(end)] { self->captureStopped(end); });
  };
  if (auto failure = engine->start(std::move(captureEnded))) {
    std::string message = std::string(messages::microphoneCouldNotStart);
    message += failure->localizedDescription;
    if (!ended) complete(std::move(message));
    return;
  }
  emit("listening");
}

void Dictation::captureStopped(const CaptureEnd& end) {
  if (ended) return;
  // Once a graceful stop is under way, capture has been stopped on purpose: the grace period
  // goes on, whatever the engine reports about itself.
  if (finishing) return;
  switch (end.reason) {
    case CaptureEnd::Reason::byItself:
      // Like end-of-file: the words heard so far still reach the host, through the grace period.
      finish();
      return;
    case CaptureEnd::Reason::noInput:
      complete(std::string(messages::noMicrophoneInput));
      return;
    case CaptureEnd::Reason::couldNotStart:
      complete(std::string(messages::microphoneCouldNotStart) + end.error.localizedDescription);
      return;
  }
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
