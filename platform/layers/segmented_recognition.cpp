#include "platform/layers/segmented_recognition.h"

#include <algorithm>
#include <utility>

#include "platform/layers/transcript_join.h"

namespace quillmate::layers {
namespace {

// What a recognizer gives back for a request it cannot recognise: nothing to cancel.
class NoTask final : public RecognitionTask {
 public:
  void cancel() override {}
};

}  // namespace

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
  replaceSegment(segments.size() - 1, std::chrono::milliseconds{0});
}

void SegmentedTask::replaceSegment(std::size_t index, std::chrono::milliseconds wait) {
  auto old = segments[index].request;
  // The new request is published to the audio thread first, so that no buffer goes to a request
  // whose audio has ended.
  startSegment(wait);
  old->endAudio();
}

void SegmentedTask::startSegment(std::chrono::milliseconds wait) {
  segments.push_back(Segment{request->nextNative(), nullptr, {}, {}, false});
  std::size_t index = segments.size() - 1;
  if (wait <= std::chrono::milliseconds{0}) return startTask(index);
  mainQueue.postAfter(wait, [self = weak_from_this(), index] {
    auto task = self.lock();
    if (task && !task->cancelled && !task->segments[index].task) task->startTask(index);
  });
}

void SegmentedTask::startTask(std::size_t index) {
  segments[index].taskStarted = mainQueue.now();
  // The native handler runs on any thread: it posts what it got, and the segment's number, to
  // the main queue, where all of this layer's state lives.
  auto nativeHandler = [self = weak_from_this(), index, queue = &mainQueue](
                           std::optional<RecognitionResult> result, std::optional<Error> error) {
    queue->post([self, index, result = std::move(result), error = std::move(error)] {
      if (auto task = self.lock()) task->delivered(index, result, error);
    });
  };
  auto nativeTask = native->recognitionTask(segments[index].request, std::move(nativeHandler));
  segments[index].task = std::move(nativeTask);
}

void SegmentedTask::audioEnded() {
  ended = true;
  // A task still backing off starts now: its request holds audio that must still be recognised.
  if (!cancelled && !segments.empty() && !segments.back().task) startTask(segments.size() - 1);
}

std::chrono::milliseconds SegmentedTask::nextWait(const Segment& segment) {
  if (!segment.words.empty()) {
    backOff = std::chrono::milliseconds{0};
    return backOff;
  }
  if (mainQueue.now() - segment.taskStarted >= kFastEnd) return std::chrono::milliseconds{0};
  // Ended at once with no words: the next task waits, longer each time this happens again.
  backOff = backOff.count() == 0 ? kFirstBackOff : std::min(backOff * 2, kLongestBackOff);
  return backOff;
}

void SegmentedTask::delivered(std::size_t index, std::optional<RecognitionResult> result,
                              std::optional<Error> error) {
  if (cancelled || index >= segments.size()) return;
  Segment& segment = segments[index];
  // A segment that has given its final result or failed says nothing more.
  if (segment.closed) return;
  bool current = index + 1 == segments.size();
  if (result)
    segment.words.take(result->bestTranscription.formattedString, result->closesUtterance);
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
    replaceSegment(index, nextWait(segment));  // `segment` may move from here on
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
  for (const Segment& segment : segments) appendTranscript(joined, segment.words.text());
  return joined;
}

SegmentedRecognizer::SegmentedRecognizer(std::shared_ptr<SpeechRecognizer> nativeRecognizer,
                                         MainQueue& queue)
    : native(std::move(nativeRecognizer)), mainQueue(queue) {}

bool SegmentedRecognizer::isAvailable() { return native->isAvailable(); }

bool SegmentedRecognizer::supportsOnDeviceRecognition() {
  return native->supportsOnDeviceRecognition();
}

std::shared_ptr<SegmentedRequest> SegmentedRecognizer::makeRequest(MakeRequest makeNative) {
  std::erase_if(made, [](const auto& request) { return request.expired(); });
  auto request = std::make_shared<SegmentedRequest>(std::move(makeNative));
  made.push_back(request);
  return request;
}

std::shared_ptr<RecognitionTask> SegmentedRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  std::shared_ptr<SegmentedRequest> segmented;
  for (const auto& weak : made) {
    auto candidate = weak.lock();
    if (candidate && candidate.get() == request.get()) segmented = candidate;
  }
  if (!segmented) {
    // The handler only posts, so it may be called from here.
    handler(std::nullopt, Error{"The recognition request was not made for this recognizer."});
    return std::make_shared<NoTask>();
  }
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
