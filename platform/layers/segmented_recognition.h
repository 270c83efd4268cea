// One recognition task for the whole dictation, made of the native recognizer's own tasks.
//
// Some recognizers end a task by themselves: at a pause they deliver a final result, or report
// that nothing was said, and no further result follows. The session relies on one task that
// delivers the best transcript so far until the session ends its audio. This layer gives it that:
// it keeps the native tasks it started, in order, as segments, starts a new one whenever the
// current one ends before the session's audio does, and passes on the join of every segment's
// words (each segment keeps its own across the pauses within it: segment_text.h). Capture starts
// a new segment too when the audio's format changes, so that no native request sees two formats.
// A task that ends at once with no words, again and again, would make segments as fast as the
// main queue runs, so the next task's start backs off from 100 ms to 1 s; its request is made at
// once and takes the buffers meanwhile, so no audio is lost.
//
// Everything here but the request's append runs on the main queue: the native result handlers
// post there first. The audio thread reaches the current native request through one atomic
// pointer; every native request stays alive as long as the session's request does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/layers/segment_text.h"
#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate::layers {

using MakeRequest = std::function<std::shared_ptr<RecognitionRequest>()>;

// A segment that ends within this long of its task's start, with no words, ended fast.
inline constexpr std::chrono::milliseconds kFastEnd{500};
// The wait before the task after a fast end: doubled after each further one, up to the longest.
inline constexpr std::chrono::milliseconds kFirstBackOff{100};
inline constexpr std::chrono::milliseconds kLongestBackOff{1000};

class SegmentedTask;

// The request that the session holds and the tap appends to.
// Made only by SegmentedRecognizer::makeRequest, which pairs it with its recognizer.
class SegmentedRequest final : public RecognitionRequest {
 public:
  explicit SegmentedRequest(MakeRequest makeNative);

  void setRequiresOnDeviceRecognition(bool required) override;
  void setShouldReportPartialResults(bool report) override;
  void setTaskHint(int64_t hint) override;
  // On the audio thread: one atomic load, then the current native request's own append.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override;
  // The session's end of audio: the current segment's audio ends, and the task's final result
  // comes once every segment has given its own.
  void endAudio() override;

 private:
  friend class SegmentedTask;
  friend class SegmentedRecognizer;
  // A new native request with the session's settings, which from now on takes the buffers.
  std::shared_ptr<RecognitionRequest> nextNative();

  MakeRequest makeNative;
  std::optional<bool> requiresOnDevice;
  std::optional<bool> reportsPartials;
  std::optional<int64_t> taskHint;
  std::vector<std::shared_ptr<RecognitionRequest>> natives;  // every one made, oldest first
  std::atomic<RecognitionRequest*> current{nullptr};
  std::weak_ptr<SegmentedTask> task;
  bool firstTaken = false;
};

// The task that the session holds. Cancelling it cancels every native task.
class SegmentedTask final : public RecognitionTask,
                            public std::enable_shared_from_this<SegmentedTask> {
 public:
  SegmentedTask(std::shared_ptr<SpeechRecognizer> native, std::shared_ptr<SegmentedRequest> request,
                ResultHandler handler, MainQueue& mainQueue);

  void cancel() override;
  // Capture restarted with what may be another format: the current segment's audio ends (its
  // final words still count) and a new segment takes the buffers. Nothing once audio has ended.
  void beginSegment();

 private:
  friend class SegmentedRequest;
  friend class SegmentedRecognizer;
  struct Segment {
    std::shared_ptr<RecognitionRequest> request;
    std::shared_ptr<RecognitionTask> task;  // absent while its start backs off
    SegmentText words;
    MainQueue::Duration taskStarted{};
    bool closed = false;  // it gave its final result, or failed
  };

  // A new segment whose request takes the buffers at once; its task starts after `wait`.
  void startSegment(std::chrono::milliseconds wait = std::chrono::milliseconds{0});
  void startTask(std::size_t index);
  // The current segment is over before the session's audio: the next one takes its place, and
  // its task starts after `wait`.
  void replaceSegment(std::size_t index, std::chrono::milliseconds wait);
  // How long the task after `segment`, which has just closed, waits; counts fast ends.
  std::chrono::milliseconds nextWait(const Segment& segment);
  void audioEnded();
  void delivered(std::size_t index, std::optional<RecognitionResult> result,
                 std::optional<Error> error);
  bool everySegmentClosed() const;
  std::string transcript() const;

  std::shared_ptr<SpeechRecognizer> native;
  std::shared_ptr<SegmentedRequest> request;
  ResultHandler handler;
  MainQueue& mainQueue;
  std::vector<Segment> segments;
  std::chrono::milliseconds backOff{0};  // before the next task; 0 after a segment with words
  bool ended = false;                    // the session's audio has ended
  bool cancelled = false;                // or the final result went out: nothing more is passed on
};

// The recognizer that the session holds, over the native one. It recognises only the requests it
// made itself; any other fails through its handler.
class SegmentedRecognizer final : public SpeechRecognizer {
 public:
  SegmentedRecognizer(std::shared_ptr<SpeechRecognizer> native, MainQueue& mainQueue);

  bool isAvailable() override;
  bool supportsOnDeviceRecognition() override;
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override;
  // A request for this recognizer, made of native requests from `makeNative`.
  std::shared_ptr<SegmentedRequest> makeRequest(MakeRequest makeNative);
  // A segment boundary in the latest task, if there is one. On the main queue.
  void beginSegment();

 private:
  std::shared_ptr<SpeechRecognizer> native;
  MainQueue& mainQueue;
  std::vector<std::weak_ptr<SegmentedRequest>> made;
  std::weak_ptr<SegmentedTask> latest;
};

}  // namespace quillmate::layers
