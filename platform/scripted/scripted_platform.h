// A platform that answers every operation from a scenario and records every call, for tests.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/layers/layers.h"
#include "platform/main_queue.h"
#include "platform/platform.h"
#include "platform/scripted/call_log.h"
#include "platform/scripted/delivery.h"
#include "platform/scripted/scenario.h"

namespace quillmate::scripted {

class ScriptedPlatform final : public Platform {
 public:
  // `mainQueue` is where the layers that the scenario may ask for keep their state.
  ScriptedPlatform(Scenario scenario, Delivery delivery, MainQueue& mainQueue,
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
  layers::Layers layers;  // composed where the scenario asks for them
  std::shared_ptr<std::atomic<uint64_t>> appended = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace quillmate::scripted
