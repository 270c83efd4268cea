// A scripted platform's answers, as data: one scenario describes a whole session's platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace quillmate::scripted {

// One call of the result handler.
struct ScriptedResult {
  enum class From { taskCreated, audioEnded };
  From from = From::taskCreated;
  std::chrono::milliseconds after{0};
  std::optional<RecognitionResult> result;
  std::optional<Error> error;
};

struct Permission {
  int64_t status = 3;
  bool granted = true;  // the microphone prompt's answer
  std::chrono::milliseconds answerAfter{0};
};

struct Scenario {
  std::string currentLocale = "en_US";
  bool recognizerExists = true;
  bool available = true;
  bool onDevice = true;
  Permission microphone;
  Permission speech;
  AudioFormat input{48000.0, 1};
  std::optional<std::string> engineStartError;
  // When capture ends by itself, counted from each successful engine start.
  std::vector<std::chrono::milliseconds> captureEnds;
  std::vector<ScriptedResult> results;
  // Absent: the product's own session cap and grace period.
  std::optional<std::chrono::milliseconds> cap;
  std::optional<std::chrono::milliseconds> grace;
};

// Reads a scenario from JSON text; every key is optional. Gives what is wrong on failure.
std::variant<Scenario, std::string> parseScenario(const std::string& json);

}  // namespace quillmate::scripted
