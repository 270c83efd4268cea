// The platform on macOS: a thin adapter over the Speech, AVFAudio and AVFoundation frameworks.
// Raw status values pass through unchanged; text crosses in text.mm.
#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include "platform/macos/text.h"
#include "platform/product.h"

namespace quillmate::macos {
namespace {

class MacRequest final : public RecognitionRequest {
 public:
  MacRequest() : native([[SFSpeechAudioBufferRecognitionRequest alloc] init]) {}

  void setRequiresOnDeviceRecognition(bool required) override {
    native.requiresOnDeviceRecognition = required;
  }
  void setShouldReportPartialResults(bool report) override {
    native.shouldReportPartialResults = report;
  }
  void setTaskHint(int64_t hint) override {
    native.taskHint = static_cast<SFSpeechRecognitionTaskHint>(hint);
  }
  // The engine's own buffer goes straight to the request: no copy, no allocation, no lock.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    [native appendAudioPCMBuffer:(__bridge AVAudioPCMBuffer*)buffer.native];
  }
  void endAudio() override { [native endAudio]; }

  SFSpeechAudioBufferRecognitionRequest* const native;
};

class MacTask final : public RecognitionTask {
 public:
  explicit MacTask(SFSpeechRecognitionTask* native) : native(native) {}
  void cancel() override { [native cancel]; }

 private:
  SFSpeechRecognitionTask* const native;
};

class MacRecognizer final : public SpeechRecognizer {
 public:
  explicit MacRecognizer(SFSpeechRecognizer* native) : native(native) {}

  bool isAvailable() override { return native.isAvailable; }
  bool supportsOnDeviceRecognition() override { return native.supportsOnDeviceRecognition; }

  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    // Only this platform's own requests reach its recognizer.
    SFSpeechAudioBufferRecognitionRequest* nativeRequest =
        static_cast<MacRequest&>(*request).native;
    SFSpeechRecognitionTask* task = [native
        recognitionTaskWithRequest:nativeRequest
                     resultHandler:^(SFSpeechRecognitionResult* result, NSError* error) {
                       std::optional<RecognitionResult> delivered;
                       if (result) {
                         delivered = RecognitionResult{
                             {utf8(result.bestTranscription.formattedString)}, result.isFinal};
                       }
                       std::optional<Error> failure;
                       if (error) failure = Error{utf8(error.localizedDescription)};
                       handler(std::move(delivered), std::move(failure));
                     }];
    return std::make_shared<MacTask>(task);
  }

 private:
  SFSpeechRecognizer* const native;
};

// The engine's input node, fetched from the engine on every use, as the session expects.
class MacInputNode final : public InputNode {
 public:
  explicit MacInputNode(AVAudioEngine* engine) : engine(engine) {}

  AudioFormat outputFormat(int bus) override {
    formatRead = [engine.inputNode outputFormatForBus:static_cast<AVAudioNodeBus>(bus)];
    return {formatRead.sampleRate, formatRead.channelCount};
  }

  // The tap gets the very format object that outputFormat read; the session's copy of its two
  // numbers only decided that it was usable.
  void installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) override {
    [engine.inputNode installTapOnBus:static_cast<AVAudioNodeBus>(bus)
                           bufferSize:bufferSize
                               format:formatRead
                                block:^(AVAudioPCMBuffer* buffer, AVAudioTime*) {
                                  AudioPCMBuffer handed;
                                  handed.native = (__bridge const void*)buffer;
                                  handed.frameLength = buffer.frameLength;
                                  block(handed, AudioTime{});
                                }];
  }

  void removeTap(int bus) override {
    [engine.inputNode removeTapOnBus:static_cast<AVAudioNodeBus>(bus)];
  }

 private:
  AVAudioEngine* const engine;
  AVAudioFormat* formatRead = nil;
};

class MacEngine final : public AudioEngine {
 public:
  MacEngine() : native([[AVAudioEngine alloc] init]), input(native) {}

  InputNode& inputNode() override { return input; }
  void prepare() override { [native prepare]; }
  std::optional<Error> start() override {
    NSError* error = nil;
    if ([native startAndReturnError:&error]) return std::nullopt;
    return Error{error ? utf8(error.localizedDescription) : "The audio engine did not start."};
  }
  void stop() override { [native stop]; }

 private:
  AVAudioEngine* const native;
  MacInputNode input;
};

class MacPlatform final : public Platform {
 public:
  std::shared_ptr<AudioEngine> makeAudioEngine() override { return std::make_shared<MacEngine>(); }

  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override {
    NSLocale* chosen = NSLocale.currentLocale;
    if (locale.identifier) {
      // An identifier that no Foundation string can carry names no locale.
      auto identifier = foundationString(*locale.identifier);
      if (!identifier) return nullptr;
      chosen = [[NSLocale alloc] initWithLocaleIdentifier:*identifier];
    }
    SFSpeechRecognizer* recognizer = [[SFSpeechRecognizer alloc] initWithLocale:chosen];
    if (!recognizer) return nullptr;
    return std::make_shared<MacRecognizer>(recognizer);
  }

  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override {
    return std::make_shared<MacRequest>();
  }

  int64_t authorizationStatusForMediaType(MediaType) override {
    return static_cast<int64_t>([AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio]);
  }

  void requestAccessForMediaType(MediaType, std::function<void(bool)> answer) override {
    [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                             completionHandler:^(BOOL granted) {
                               answer(granted);
                             }];
  }

  void requestAuthorization(std::function<void(int64_t)> answer) override {
    [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
      answer(static_cast<int64_t>(status));
    }];
  }
};

}  // namespace
}  // namespace quillmate::macos

namespace quillmate {

std::unique_ptr<Platform> makeProductPlatform() { return std::make_unique<macos::MacPlatform>(); }

}  // namespace quillmate
