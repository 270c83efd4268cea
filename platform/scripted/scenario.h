// A scripted platform's answers, as data: one scenario describes a whole session's platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/scripted/faults.h"

namespace quillmate::scripted {

// One call of the result handler of one native task.
struct ScriptedResult {
  enum class From { taskCreated, audioEnded };
  From from = From::taskCreated;  // "afterMs" or "afterEndAudioMs", counted for this task
  std::chrono::milliseconds after{0};
  std::optional<RecognitionResult> result;  // "utteranceEnded" for one that closes an utterance
  std::optional<Error> error;  // "error", with "nothingSaid" for a task that heard no speech
  std::size_t task = 0;        // "task": 0 for the first native task, 1 for the next, ...
};

struct Permission {
  int64_t status = authorization::kAuthorized;
  bool granted = true;  // the microphone prompt's answer
  std::chrono::milliseconds answerAfter{0};
};

// Every key of the JSON form is optional; the defaults give a session that listens and hears
// nothing. Keys, beside the ones named at each field: "recognizer" {"exists", "available",
// "onDevice", "segmented"}, "microphone" and "speech" {"status", "granted", "answerAfterMs"},
// "input" {"sampleRate", "channelCount"}, "engineStartError", "captureEndsAfterMs", "results",
// "capMs", "graceMs", "fault".
struct Scenario {
  std::string currentLocale = "en_US";
  bool recognizerExists = true;
  bool available = true;
  bool onDevice = true;
  // Composes the recognition layer that the macOS platform uses over the scripted native
  // tasks: a final result or a "nothingSaid" error before the end of audio starts a new task.
  bool segmented = false;
  Permission microphone;
  Permission speech;
  AudioFormat input{48000.0, 1};
  std::optional<std::string> engineStartError;
  // When capture ends by itself, counted from each successful engine start.
  std::vector<std::chrono::milliseconds> captureEnds;
  // With any capture key below, the engine is the layer that the macOS platform uses, over
  // scripted native engines that share one piece of hardware.
  bool captureLayer = false;
  // "configurationChangesAfterMs": hardware changes as the macOS engine posts them, counted
  // from the first successful engine start.
  std::optional<std::vector<std::chrono::milliseconds>> configurationChanges;
  bool engineKeepsRunning = false;  // every change is one during which the engine still runs
  int64_t restartFailures = 0;      // the first N tries after a successful start fail
  // "startFailures": the first N tries to start an engine fail, with "engineStartError" when
  // given. Without it, "engineStartError" makes every try fail.
  std::optional<int64_t> startFailures;
  // "restartFailuresForMs": every try within this long of a configuration change fails.
  std::optional<std::chrono::milliseconds> restartFailuresFor;
  // "buffersStopAfterMs": this long after the first successful start, the running engine's tap
  // gets no more buffers while the engine says it runs. Engines made later deliver.
  std::optional<std::chrono::milliseconds> buffersStopAfter;
  bool buffersNeverArrive = false;  // no engine's tap ever gets a buffer
  // "inputUnusableForMs": for this long after the first read, the input reads 0 Hz, 0 channels.
  std::optional<std::chrono::milliseconds> inputUnusableFor;
  // "inputAfterChange" {"sampleRate", "channelCount"}: the input as engines made after the first
  // configuration change read it.
  std::optional<AudioFormat> inputAfterChange;
  std::vector<ScriptedResult> results;
  // "fault": {"in": OPERATION, "kind": KIND}: the named operation fails on its own thread.
  std::optional<Fault> fault;
  // Absent: the product's own session cap and grace period.
  std::optional<std::chrono::milliseconds> cap;
  std::optional<std::chrono::milliseconds> grace;
};

// Reads a scenario from JSON text; every key is optional. Gives what is wrong on failure.
std::variant<Scenario, std::string> parseScenario(const std::string& json);

}  // namespace quillmate::scripted
