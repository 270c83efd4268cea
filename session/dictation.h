// The one dictation session of the process and its operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/main_queue.h"
#include "platform/platform.h"

namespace quillmate {

// How long a stopped session waits for the recognizer's final result.
inline constexpr std::chrono::milliseconds kGracePeriod{1000};

// What the process hands its session: the platform, the main queue, the command line and how
// the process ends. Tests replace each of them.
struct SessionContext {
  Platform& platform;
  MainQueue& mainQueue;
  std::vector<std::string> arguments;  // the command line, the program's own name first
  std::chrono::milliseconds gracePeriod = kGracePeriod;
  std::function<void(int)> exitProcess = [](int status) { std::exit(status); };
  // The process's one test for its final line, given the exit status that goes with the line:
  // false when another road (a crash, a library's exit) has written one already.
  std::function<bool(int)> claimFinalLine = [](int) { return true; };
  // Told of each graceful stop as it begins, so that the process can tell when the final line
  // is overdue.
  std::function<void()> stopRequested = [] {};
};

// Lives on the main queue: every read and write of its fields happens there. Platform callbacks
// copy what they are given and post it to the main queue; no lock guards these fields.
class Dictation : public std::enable_shared_from_this<Dictation> {
 public:
  explicit Dictation(SessionContext context);

  // Start-up: the availability check, "starting" and the permission sequence.
  void start();
  void authorizeSpeech();
  // Capture and recognition: the request, the task, the tap and the engine.
  void listen();
  // The graceful stop: capture stops and the task gets the grace period for its final result.
  void finish(std::optional<std::string> error = std::nullopt);
  // The terminal stop: tears down, writes the final line and ends the process. Acts once.
  void complete(std::optional<std::string> error = std::nullopt);

  std::shared_ptr<AudioEngine> engine;
  std::shared_ptr<SpeechRecognizer> recognizer;
  std::shared_ptr<RecognitionRequest> request;
  std::shared_ptr<RecognitionTask> recognition;
  bool tapped = false;
  bool ended = false;
  bool finishing = false;
  std::string text;

 private:
  void microphoneAccessAnswered(bool granted);
  void speechAuthorizationAnswered(int64_t status);
  void captureStopped(const CaptureEnd& end);
  // Stops the engine, removes the tap and ends the request's audio; harmless twice.
  void stopCapture();
  void recognitionDelivered(const std::optional<RecognitionResult>& result,
                            const std::optional<Error>& error);

  SessionContext context;
};

}  // namespace quillmate
