#include "platform/layers/segmented_recognition.h"

#include <utility>

#include "platform/layers/transcript_join.h"

namespace quillmate::layers {

SegmentedRequest::SegmentedRequest(MakeRequest makeNativeRequest)
    : makeNative(std::move(makeNativeRequest)) {
  // The first native request exists at once, so the session's settings reach it as they are
  // made and the first segment's buffers have somewhere to go.
  natives.push_back(makeNative());
  current.store(natives.front().get(), std::memory_order_release);
}

void SegmentedRequest::setRequiresOnDeviceRecognition(bool required) {
  requiresOnDevice = required;
  current.load(std::memory_order_relaxed)->setRequiresOnDeviceRecognition(required);
}

void SegmentedRequest::setShouldReportPartialResults(bool report) {
  reportsPartials = report;
  current.load(std::memory_order_relaxed)->setShouldReportPartialResults(report);
}

void SegmentedRequest::setTaskHint(int64_t hint) {
  taskHint = hint;
  current.load(std::memory_order_relaxed)->setTaskHint(hint);
}

void SegmentedRequest::appendAudioPCMBuffer(const AudioPCMBuffer& buffer) {
  current.load(std::memory_order_acquire)->appendAudioPCMBuffer(buffer);
}

void SegmentedRequest::endAudio() {
  if (auto segments = task.lock()) segments->audioEnded();
  current.load(std::memory_order_relaxed)->endAudio();
}

std::shared_ptr<RecognitionRequest> SegmentedRequest::nextNative() {
  // The first segment takes the request made with this one.
  if (!firstTaken) {
    firstTaken = true;
    return natives.front();
  }
  auto native = makeNative();
  if (requiresOnDevice) native->setRequiresOnDeviceRecognition(*requiresOnDevice);
  if (reportsPartials) native->setShouldReportPartialResults(*reportsPartials);
  if (taskHint) native->setTaskHint(*taskHint);
  // Kept until this request goes, so that the audio thread may still be appending to the one
  // it loaded just before the switch.
  natives.push_back(native);
  current.store(native.get(), std::memory_order_release);
  return native;
}

SegmentedTask::SegmentedTask(std::shared_ptr<SpeechRecognizer> nativeRecognizer,
                             std::shared_ptr<SegmentedRequest> sessionRequest,
                             ResultHandler resultHandler, MainQueue& queue)
    : native(std::move(nativeRecognizer)),
      request(std::move(sessionRequest)),
      handler(std::move(resultHandler)),
      mainQueue(queue) {}

void SegmentedTask::cancel() {
  cancelled = true;
  for (Segment& segment : segments) {
    if (segment.task) segment.task->cancel();
  }
}

void SegmentedTask::beginSegment() {
  if (ended || cancelled || segments.empty()) return;
  segments.back().request->endAudio();
  startSegment();
}

void SegmentedTask::startSegment() {
  auto nativeRequest = request->nextNative();
  std::size_t index = segments.size();
  segments.push_back(Segment{nativeRequest, nullptr, {}, false});
  // The native handler runs on any thread: it posts what it got, and the segment's number, to
  // the main queue, where all of this layer's state lives.
  auto nativeHandler = [self = weak_from_this(), index, queue = &mainQueue](
                           std::optional<RecognitionResult> result, std::optional<Error> error) {
    queue->post([self, index, result = std::move(result), error = std::move(error)] {
      if (auto task = self.lock()) task->delivered(index, result, error);
    });
  };
  auto nativeTask = native->recognitionTask(nativeRequest, std::move(nativeHandler));
  segments[index].task = std::move(nativeTask);
}

void SegmentedTask::audioEnded() { ended = true; }

void SegmentedTask::delivered(std::size_t index, std::optional<RecognitionResult> result,
                              std::optional<Error> error) {
  if (cancelled || index >= segments.size()) return;
  Segment& segment = segments[index];
  // A segment that has given its final result or failed says nothing more.
  if (segment.closed) return;
  bool current = index + 1 == segments.size();
  if (result) segment.transcript = result->bestTranscription.formattedString;
  if (result && result->isFinal) {
    // The native task is over; an error that came with its final result is not looked at.
    segment.closed = true;
    error.reset();
  } else if (error && (!current || (!ended && error->nothingSaid))) {
    // A retired segment's failure, or a pause that the recognizer took for the end of speech,
    // does not end the dictation.
    segment.closed = true;
    error.reset();
  }
  if (segment.closed && current && !ended) {
    segment.request->endAudio();
    startSegment();  // `segment` may move from here on
  }
  bool complete = ended && everySegmentClosed();
  if (result || complete) {
    if (complete) cancelled = true;  // the final result is the last thing passed on
    handler(RecognitionResult{{transcript()}, complete}, std::move(error));
  } else if (error) {
    // Every other error reaches the session unchanged, which decides what it means.
    handler(std::nullopt, std::move(error));
  }
}

bool SegmentedTask::everySegmentClosed() const {
  for (const Segment& segment : segments) {
    if (!segment.closed) return false;
  }
  return true;
}

std::string SegmentedTask::transcript() const {
  std::string joined;
  for (const Segment& segment : segments) appendTranscript(joined, segment.transcript);
  return joined;
}

SegmentedRecognizer::SegmentedRecognizer(std::shared_ptr<SpeechRecognizer> nativeRecognizer,
                                         MainQueue& queue)
    : native(std::move(nativeRecognizer)), mainQueue(queue) {}

bool SegmentedRecognizer::isAvailable() { return native->isAvailable(); }

bool SegmentedRecognizer::supportsOnDeviceRecognition() {
  return native->supportsOnDeviceRecognition();
}

std::shared_ptr<RecognitionTask> SegmentedRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  // Only requests made for this recognizer reach it.
  auto segmented = std::static_pointer_cast<SegmentedRequest>(std::move(request));
  auto task = std::make_shared<SegmentedTask>(native, segmented, std::move(handler), mainQueue);
  segmented->task = task;
  latest = task;
  task->startSegment();
  return task;
}

void SegmentedRecognizer::beginSegment() {
  if (auto task = latest.lock()) task->beginSegment();
}

}  // namespace quillmate::layers
