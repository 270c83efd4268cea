// The platform on macOS: a thin adapter over the Speech, AVFAudio and AVFoundation frameworks.
// Raw status values pass through unchanged; text crosses in text.mm. Every entry point and every
// block the frameworks call drains its own autorelease pool, since a command-line tool has no
// event loop that would drain one, and no Objective-C exception leaves the adapter.
#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include "platform/macos/guarded.h"
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
  // On the audio thread. The engine's own buffer goes straight to the request: no copy, no
  // allocation, no lock. A buffer the request refuses is left out rather than ending the process.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    guarded([&] { [native appendAudioPCMBuffer:(__bridge AVAudioPCMBuffer*)buffer.native]; });
  }
  void endAudio() override {
    @autoreleasepool {
      guarded([&] { [native endAudio]; });
    }
  }

  SFSpeechAudioBufferRecognitionRequest* const native;
};

class MacTask final : public RecognitionTask {
 public:
  explicit MacTask(SFSpeechRecognitionTask* native) : native(native) {}
  void cancel() override {
    @autoreleasepool {
      guarded([&] { [native cancel]; });
    }
  }

 private:
  SFSpeechRecognitionTask* const native;
};

class MacRecognizer final : public SpeechRecognizer {
 public:
  explicit MacRecognizer(SFSpeechRecognizer* native) : native(native) {}

  bool isAvailable() override {
    @autoreleasepool {
      return native.isAvailable;
    }
  }
  bool supportsOnDeviceRecognition() override {
    @autoreleasepool {
      return native.supportsOnDeviceRecognition;
    }
  }

  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    @autoreleasepool {
      // Only this platform's own requests reach its recognizer.
      SFSpeechAudioBufferRecognitionRequest* nativeRequest =
          static_cast<MacRequest&>(*request).native;
      auto resultHandler = ^(SFSpeechRecognitionResult* result, NSError* error) {
        @autoreleasepool {
          std::optional<RecognitionResult> delivered;
          if (result) {
            delivered =
                RecognitionResult{{utf8(result.bestTranscription.formattedString)}, result.isFinal};
          }
          std::optional<Error> failure;
          if (error) failure = Error{utf8(error.localizedDescription)};
          handler(std::move(delivered), std::move(failure));
        }
      };
      SFSpeechRecognitionTask* task = nil;
      auto raised = guarded([&] {
        task = [native recognitionTaskWithRequest:nativeRequest resultHandler:resultHandler];
      });
      // A task that could not be made fails like one that stopped: through the handler, which
      // only posts to the main queue and so may be called from here.
      if (raised) handler(std::nullopt, Error{*raised});
      return std::make_shared<MacTask>(task);
    }
  }

 private:
  SFSpeechRecognizer* const native;
};

// The engine's input node, fetched from the engine on every use, as the session expects. The
// engine raises when it has no input device at all, and the input node raises on a format that
// no longer matches the device, so each call is guarded.
class MacInputNode final : public InputNode {
 public:
  explicit MacInputNode(AVAudioEngine* engine) : engine(engine) {}

  // An input that cannot even be asked for its format has no usable format.
  AudioFormat outputFormat(int bus) override {
    @autoreleasepool {
      AudioFormat format;
      guarded([&] {
        formatRead = [engine.inputNode outputFormatForBus:static_cast<AVAudioNodeBus>(bus)];
        format = {formatRead.sampleRate, formatRead.channelCount};
      });
      return format;
    }
  }

  // The tap gets the very format object that outputFormat read; the session's copy of its two
  // numbers only decided that it was usable. A refused tap is remembered, and the engine's start
  // reports it, so that the session ends through its start failure.
  void installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) override {
    @autoreleasepool {
      refused = guarded([&] {
        [engine.inputNode installTapOnBus:static_cast<AVAudioNodeBus>(bus)
                               bufferSize:bufferSize
                                   format:formatRead
                                    block:^(AVAudioPCMBuffer* buffer, AVAudioTime*) {
                                      @autoreleasepool {
                                        AudioPCMBuffer handed;
                                        handed.native = (__bridge const void*)buffer;
                                        handed.frameLength = buffer.frameLength;
                                        block(handed, AudioTime{});
                                      }
                                    }];
      });
    }
  }

  void removeTap(int bus) override {
    @autoreleasepool {
      guarded([&] { [engine.inputNode removeTapOnBus:static_cast<AVAudioNodeBus>(bus)]; });
    }
  }

  std::optional<std::string> refused;  // why the last installTap was refused

 private:
  AVAudioEngine* const engine;
  AVAudioFormat* formatRead = nil;
};

class MacEngine final : public AudioEngine {
 public:
  MacEngine() : native([[AVAudioEngine alloc] init]), input(native) {}

  InputNode& inputNode() override { return input; }

  void prepare() override {
    @autoreleasepool {
      prepareRefused = guarded([&] { [native prepare]; });
    }
  }

  std::optional<Error> start(CaptureEnded ended) override {
    @autoreleasepool {
      if (input.refused) return Error{*input.refused};
      if (prepareRefused) return Error{*prepareRefused};
      NSError* error = nil;
      BOOL started = NO;
      if (auto raised = guarded([&] { started = [native startAndReturnError:&error]; })) {
        return Error{*raised};
      }
      if (!started) {
        return Error{error ? utf8(error.localizedDescription) : "The audio engine did not start."};
      }
      // Posted on an internal queue once the engine has already stopped, for example when a
      // headset is plugged in. The block holds only the session's callback, never the engine,
      // so the engine is not released from there.
      observer = [NSNotificationCenter.defaultCenter
          addObserverForName:AVAudioEngineConfigurationChangeNotification
                      object:native
                       queue:nil
                  usingBlock:^(NSNotification*) {
                    @autoreleasepool {
                      ended();
                    }
                  }];
      return std::nullopt;
    }
  }

  void stop() override {
    @autoreleasepool {
      if (observer) {
        [NSNotificationCenter.defaultCenter removeObserver:observer];
        observer = nil;
      }
      guarded([&] { [native stop]; });
    }
  }

 private:
  AVAudioEngine* const native;
  MacInputNode input;
  std::optional<std::string> prepareRefused;
  id<NSObject> observer = nil;
};

class MacPlatform final : public Platform {
 public:
  std::shared_ptr<AudioEngine> makeAudioEngine() override { return std::make_shared<MacEngine>(); }

  std::shared_ptr<SpeechRecognizer> makeSpeechRecognizer(const Locale& locale) override {
    @autoreleasepool {
      SFSpeechRecognizer* recognizer = nil;
      if (locale.identifier) {
        // An identifier that no Foundation string can carry names no locale. An explicit
        // identifier is never replaced by another language.
        auto identifier = foundationString(*locale.identifier);
        if (!identifier) return nullptr;
        NSLocale* chosen = [[NSLocale alloc] initWithLocaleIdentifier:*identifier];
        recognizer = [[SFSpeechRecognizer alloc] initWithLocale:chosen];
      } else {
        // The current locale joins language and region (English in Germany is en_DE), a pair
        // that may have no recognizer although the user's language has one. The recognizer for
        // the user's default language settings then serves.
        recognizer = [[SFSpeechRecognizer alloc] initWithLocale:NSLocale.currentLocale];
        if (!recognizer) recognizer = [[SFSpeechRecognizer alloc] init];
      }
      if (!recognizer) return nullptr;
      return std::make_shared<MacRecognizer>(recognizer);
    }
  }

  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override {
    return std::make_shared<MacRequest>();
  }

  int64_t authorizationStatusForMediaType(MediaType) override {
    @autoreleasepool {
      return static_cast<int64_t>(
          [AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio]);
    }
  }

  void requestAccessForMediaType(MediaType, std::function<void(bool)> answer) override {
    @autoreleasepool {
      [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                               completionHandler:^(BOOL granted) {
                                 @autoreleasepool {
                                   answer(granted);
                                 }
                               }];
    }
  }

  void requestAuthorization(std::function<void(int64_t)> answer) override {
    @autoreleasepool {
      [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
        @autoreleasepool {
          answer(static_cast<int64_t>(status));
        }
      }];
    }
  }
};

}  // namespace
}  // namespace quillmate::macos

namespace quillmate {

std::unique_ptr<Platform> makeProductPlatform() { return std::make_unique<macos::MacPlatform>(); }

}  // namespace quillmate
