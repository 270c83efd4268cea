#include "platform/scripted/scenario.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace quillmate::scripted {
namespace {

using nlohmann::json;

// The keys that put the capture layer under the session.
constexpr const char* kCaptureKeys[] = {"configurationChangesAfterMs", "restartFailures",
                                        "restartFailuresForMs",        "startFailures",
                                        "buffersStopAfterMs",          "buffersNeverArrive",
                                        "inputUnusableForMs",          "inputAfterChange"};

// The scenario reader reports the first wrong key through this exception, caught below.
struct Invalid {
  std::string what;
};

const json* member(const json& object, const char* key) {
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

const json& objectAt(const json& object, const char* key) {
  static const json empty = json::object();
  const json* value = member(object, key);
  if (!value) return empty;
  if (!value->is_object()) throw Invalid{std::string("\"") + key + "\" must be an object"};
  return *value;
}

bool boolean(const json& object, const char* key, bool fallback) {
  const json* value = member(object, key);
  if (!value) return fallback;
  if (!value->is_boolean()) throw Invalid{std::string("\"") + key + "\" must be true or false"};
  return value->get<bool>();
}

int64_t integer(const json& object, const char* key, int64_t fallback) {
  const json* value = member(object, key);
  if (!value) return fallback;
  if (!value->is_number_integer()) throw Invalid{std::string("\"") + key + "\" must be an integer"};
  return value->get<int64_t>();
}

std::chrono::milliseconds milliseconds(const json& object, const char* key,
                                       std::chrono::milliseconds fallback) {
  int64_t value = integer(object, key, fallback.count());
  if (value < 0) throw Invalid{std::string("\"") + key + "\" must not be negative"};
  return std::chrono::milliseconds(value);
}

std::optional<std::string> optionalText(const json& object, const char* key) {
  const json* value = member(object, key);
  if (!value || value->is_null()) return std::nullopt;
  if (!value->is_string()) throw Invalid{std::string("\"") + key + "\" must be a string or null"};
  return value->get<std::string>();
}

std::vector<std::chrono::milliseconds> times(const json& object, const char* key) {
  const json& list = *member(object, key);
  if (!list.is_array()) throw Invalid{std::string("\"") + key + "\" must be an array"};
  std::vector<std::chrono::milliseconds> parsed;
  for (const json& at : list) {
    if (!at.is_number_integer() || at.get<int64_t>() < 0) {
      throw Invalid{std::string("each entry of \"") + key + "\" must be a whole number of ms"};
    }
    parsed.emplace_back(at.get<int64_t>());
  }
  return parsed;
}

int64_t count(const json& object, const char* key) {
  int64_t value = integer(object, key, 0);
  if (value < 0) throw Invalid{std::string("\"") + key + "\" must not be negative"};
  return value;
}

Permission permission(const json& object, Permission fallback) {
  fallback.status = integer(object, "status", fallback.status);
  fallback.granted = boolean(object, "granted", fallback.granted);
  fallback.answerAfter = milliseconds(object, "answerAfterMs", fallback.answerAfter);
  return fallback;
}

double sampleRate(const json& input, double fallback) {
  const json* value = member(input, "sampleRate");
  if (!value) return fallback;
  if (value->is_number()) return value->get<double>();
  if (value->is_string() && value->get<std::string>() == "nan") return std::nan("");
  throw Invalid{"\"sampleRate\" must be a number or \"nan\""};
}

AudioFormat format(const json& input, AudioFormat fallback) {
  fallback.sampleRate = sampleRate(input, fallback.sampleRate);
  int64_t channels = integer(input, "channelCount", fallback.channelCount);
  if (channels < 0 || channels > UINT32_MAX) throw Invalid{"\"channelCount\" is out of range"};
  fallback.channelCount = static_cast<uint32_t>(channels);
  return fallback;
}

ScriptedResult result(const json& entry) {
  if (!entry.is_object()) throw Invalid{"each entry of \"results\" must be an object"};
  ScriptedResult scripted;
  bool afterTask = member(entry, "afterMs") != nullptr;
  bool afterEnd = member(entry, "afterEndAudioMs") != nullptr;
  if (afterTask == afterEnd) {
    throw Invalid{"each result needs exactly one of \"afterMs\" and \"afterEndAudioMs\""};
  }
  scripted.from = afterTask ? ScriptedResult::From::taskCreated : ScriptedResult::From::audioEnded;
  scripted.after = milliseconds(entry, afterTask ? "afterMs" : "afterEndAudioMs", {});
  if (auto transcript = optionalText(entry, "transcript")) {
    scripted.result = RecognitionResult{
        {*transcript}, boolean(entry, "isFinal", false), boolean(entry, "utteranceEnded", false)};
  } else {
    for (const char* key : {"isFinal", "utteranceEnded"}) {
      if (member(entry, key)) throw Invalid{std::string("\"") + key + "\" needs a \"transcript\""};
    }
  }
  if (auto description = optionalText(entry, "error")) {
    scripted.error = Error{*description, boolean(entry, "nothingSaid", false)};
  } else if (member(entry, "nothingSaid")) {
    throw Invalid{"\"nothingSaid\" needs an \"error\""};
  }
  int64_t task = integer(entry, "task", 0);
  if (task < 0) throw Invalid{"\"task\" must not be negative"};
  scripted.task = static_cast<std::size_t>(task);
  return scripted;
}

Scenario scenario(const json& root) {
  if (!root.is_object()) throw Invalid{"the scenario must be a JSON object"};
  Scenario parsed;
  const json& recognizer = objectAt(root, "recognizer");
  parsed.recognizerExists = boolean(recognizer, "exists", parsed.recognizerExists);
  parsed.available = boolean(recognizer, "available", parsed.available);
  parsed.onDevice = boolean(recognizer, "onDevice", parsed.onDevice);
  parsed.segmented = boolean(recognizer, "segmented", parsed.segmented);
  parsed.microphone = permission(objectAt(root, "microphone"), parsed.microphone);
  parsed.speech = permission(objectAt(root, "speech"), parsed.speech);
  parsed.input = format(objectAt(root, "input"), parsed.input);
  parsed.engineStartError = optionalText(root, "engineStartError");
  if (member(root, "captureEndsAfterMs")) parsed.captureEnds = times(root, "captureEndsAfterMs");
  if (member(root, "configurationChangesAfterMs")) {
    parsed.configurationChanges = times(root, "configurationChangesAfterMs");
  }
  parsed.engineKeepsRunning = boolean(root, "engineKeepsRunning", parsed.engineKeepsRunning);
  parsed.restartFailures = count(root, "restartFailures");
  if (member(root, "startFailures")) parsed.startFailures = count(root, "startFailures");
  if (member(root, "restartFailuresForMs")) {
    parsed.restartFailuresFor = milliseconds(root, "restartFailuresForMs", {});
  }
  if (member(root, "buffersStopAfterMs")) {
    parsed.buffersStopAfter = milliseconds(root, "buffersStopAfterMs", {});
  }
  parsed.buffersNeverArrive = boolean(root, "buffersNeverArrive", false);
  if (member(root, "inputUnusableForMs")) {
    parsed.inputUnusableFor = milliseconds(root, "inputUnusableForMs", {});
  }
  if (member(root, "inputAfterChange")) {
    parsed.inputAfterChange = format(objectAt(root, "inputAfterChange"), parsed.input);
  }
  for (const char* key : kCaptureKeys)
    parsed.captureLayer = parsed.captureLayer || member(root, key);
  if (const json* results = member(root, "results")) {
    if (!results->is_array()) throw Invalid{"\"results\" must be an array"};
    for (const json& entry : *results) parsed.results.push_back(result(entry));
  }
  if (member(root, "fault")) {
    const json& fault = objectAt(root, "fault");
    auto in = optionalText(fault, "in");
    auto kind = faultKind(optionalText(fault, "kind").value_or(""));
    if (!in || !kind) {
      throw Invalid{
          "\"fault\" needs \"in\" and a \"kind\" of segfault, abort, exit, throw or hang"};
    }
    parsed.fault = Fault{*in, *kind};
  }
  if (member(root, "capMs")) parsed.cap = milliseconds(root, "capMs", {});
  if (member(root, "graceMs")) parsed.grace = milliseconds(root, "graceMs", {});
  return parsed;
}

}  // namespace

std::variant<Scenario, std::string> parseScenario(const std::string& text) {
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) return std::string("the scenario is not valid JSON");
  try {
    return scenario(root);
  } catch (const Invalid& invalid) {
    return invalid.what;
  }
}

}  // namespace quillmate::scripted
