// The speech and audio operations the session relies on, under the platform's own names.
// Every implementation (scripted, Linux, macOS) gives exactly what each comment promises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillmate {

// A platform error, reduced to what reaches the user.
struct Error {
  std::string localizedDescription;  // a user-readable text
  // The recognizer ended its task because it heard no speech, as some do at a long pause. Set
  // by the platform; the session never looks at it.
  bool nothingSaid = false;
};

struct AudioFormat {
  double sampleRate = 0.0;    // frames per second; may be 0, negative or NaN when unusable
  uint32_t channelCount = 0;  // 0 when there is no input
};

// Whether capture can run with `format`. Written so that a NaN sample rate fails too.
inline bool usable(const AudioFormat& format) {
  return format.sampleRate > 0.0 && format.channelCount != 0;
}

enum class SampleType { float32, int16 };

// One buffer of captured audio, interleaved. Valid only for the duration of the tap call.
struct AudioPCMBuffer {
  AudioFormat format;
  SampleType sampleType = SampleType::float32;
  const void* data = nullptr;
  uint32_t frameLength = 0;
  // The platform's own buffer object, where it has one (an AVAudioPCMBuffer on macOS), so that
  // its request can take the buffer as it came, without a copy.
  const void* native = nullptr;
};

struct AudioTime {
  int64_t sampleTime = 0;
};

struct Transcription {
  std::string formattedString;
};

struct RecognitionResult {
  Transcription bestTranscription;  // the best transcript so far
  bool isFinal = false;             // no further result follows
  // The recognizer heard a pause after these words and closed the stretch of speech before it.
  // Its later results in the same task may hold only what is said after the pause. Set by the
  // platform; the session never looks at it.
  bool closesUtterance = false;
};

// The identifier of a locale, or the user's current locale when absent.
struct Locale {
  std::optional<std::string> identifier;
};

enum class MediaType { audio };

// Called on any thread, any number of times, with a result, an error, both or neither.
using ResultHandler = std::function<void(std::optional<RecognitionResult>, std::optional<Error>)>;

// Called on the audio thread with each captured buffer.
using TapBlock = std::function<void(const AudioPCMBuffer&, const AudioTime&)>;

// How capture that the session started came to an end without the session asking.
struct CaptureEnd {
  enum class Reason {
    byItself,       // capture ran, then the device went away or the audio server died
    noInput,        // the input never reported a usable format
    couldNotStart,  // capture never ran; `error` says why
  };
  Reason reason = Reason::byItself;
  Error error;
};

// Called on any thread when capture that had started ends by itself. It may come more than once,
// and even just after the session stopped the engine itself.
using CaptureEnded = std::function<void(CaptureEnd)>;

class RecognitionRequest {
 public:
  virtual ~RecognitionRequest() = default;
  virtual void setRequiresOnDeviceRecognition(bool required) = 0;
  virtual void setShouldReportPartialResults(bool report) = 0;
  virtual void setTaskHint(int64_t hint) = 0;
  // Safe on the audio thread while recognition runs: it neither allocates nor waits on a lock.
  virtual void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) = 0;
  // No more audio comes; the task may still deliver a final result or an error. Harmless twice.
  virtual void endAudio() = 0;
};

class RecognitionTask {
 public:
  virtual ~RecognitionTask() = default;
  // Recognition stops; harmless on a task that has already finished or failed.
  virtual void cancel() = 0;
};

class SpeechRecognizer {
 public:
  virtual ~SpeechRecognizer() = default;
  virtual bool isAvailable() = 0;
  virtual bool supportsOnDeviceRecognition() = 0;
  // Starts recognising the request at once and returns the task.
  virtual std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<RecognitionRequest> request, ResultHandler handler) = 0;
};

// The input node's one bus, which the session reads and taps.
inline constexpr int kInputBus = 0;

class InputNode {
 public:
  virtual ~InputNode() = default;
  virtual AudioFormat outputFormat(int bus) = 0;
  // From the start of the engine on, `block` receives every captured buffer on the audio thread.
  virtual void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) = 0;
  // The tap is gone: once this returns, its block is not called again.
  virtual void removeTap(int bus) = 0;
};

class AudioEngine {
 public:
  virtual ~AudioEngine() = default;
  virtual InputNode& inputNode() = 0;
  virtual void prepare() = 0;
  // Starts capture, or gives back why it could not. Once this has returned no error, `ended` is
  // called if capture ends by itself, or if an engine that starts in the background (macOS waits
  // for a headset) never got capture running.
  virtual std::optional<Error> start(CaptureEnded ended) = 0;
  // Capture stops; harmless on an engine that never started or has already stopped.
  virtual void stop() = 0;
};

// The authorization statuses the session tells apart, with the raw values the platform gives
// for the microphone and for speech recognition alike. Every other value refuses: 1 and 2 are
// restricted and denied for the microphone, denied and restricted for speech.
namespace authorization {
inline constexpr int64_t kNotDetermined = 0;
inline constexpr int64_t kAuthorized = 3;
}  // namespace authorization

// Where the session gets its platform objects and permissions from.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual std::shared_ptr<AudioEngine> makeAudioEngine() = 0;
  // The recognizer for the locale, or null when the platform has none for it.
  virtual std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) = 0;
  virtual std::shared_ptr<RecognitionRequest> makeRecognitionRequest() = 0;
  // The raw status (see `authorization`), without a prompt.
  virtual int64_t authorizationStatusForMediaType(MediaType type) = 0;
  // `answer` is called once, on any thread, with whether access was granted.
  virtual void requestAccessForMediaType(MediaType type, std::function<void(bool)> answer) = 0;
  // `answer` is called once, on any thread, with the raw speech status (see `authorization`).
  virtual void requestAuthorization(std::function<void(int64_t)> answer) = 0;
  // The platform's own words for "no recognizer can serve the locale", where what the user must
  // do differs from the session's message; nothing where it does not.
  virtual std::optional<std::string> unavailableMessage() { return std::nullopt; }
};

}  // namespace quillmate
