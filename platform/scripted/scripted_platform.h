// A platform that answers every operation from a scenario and records every call, for tests.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/scripted/delivery.h"
#include "platform/scripted/scenario.h"

namespace quillmate::scripted {

// Every platform call in order, as one line each: the operation's name, then its fixed
// arguments. Appended to a file as well when one is named. Buffers appended by the tap are not
// recorded.
class CallLog {
 public:
  explicit CallLog(std::optional<std::string> path = std::nullopt);
  void record(const std::string& call);
  std::vector<std::string> calls();

 private:
  std::mutex mutex;
  std::optional<std::string> path;
  std::vector<std::string> recorded;
};

class ScriptedPlatform final : public Platform {
 public:
  ScriptedPlatform(Scenario scenario, Delivery delivery,
                   std::shared_ptr<CallLog> log = std::make_shared<CallLog>());

  std::shared_ptr<AudioEngine> makeAudioEngine() override;
  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override;
  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override;
  int64_t authorizationStatusForMediaType(MediaType type) override;
  void requestAccessForMediaType(MediaType type, std::function<void(bool)> answer) override;
  void requestAuthorization(std::function<void(int64_t)> answer) override;

  CallLog& log() { return *callLog; }
  // Frames that taps appended to this platform's requests, from any thread.
  uint64_t framesAppended() const;

 private:
  Scenario scenario;
  Delivery delivery;
  std::shared_ptr<CallLog> callLog;
  std::shared_ptr<std::atomic<uint64_t>> appended = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace quillmate::scripted
