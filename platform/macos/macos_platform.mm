// The platform on macOS: a thin adapter over the Speech, AVFAudio and AVFoundation frameworks.
// The recognizer ends its tasks by itself at a pause and the engine stops when the hardware
// changes, so the session gets both through the platform layers, which decide what to do; this
// file only wires the native objects to them. Raw status values pass through unchanged; text
// crosses in text.mm. Every entry point and every
// block the frameworks call drains its own autorelease pool, since a command-line tool has no
// event loop that would drain one, and no Objective-C exception leaves the adapter.
#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include <unistd.h>

#include "output/last_line.h"

#include "platform/layers/layers.h"
#include "platform/macos/guarded.h"
#include "platform/macos/speech_errors.h"
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
            // From macOS 15 on, the result that closes the stretch of speech before a pause is
            // the one with speech metadata; the task's later results hold only what follows it.
            RecognitionResult converted;
            auto raised = guarded([&] {
              converted.bestTranscription.formattedString =
                  utf8(result.bestTranscription.formattedString);
              converted.isFinal = result.isFinal;
              converted.closesUtterance = result.speechRecognitionMetadata != nil;
            });
            if (!raised) delivered = std::move(converted);
          }
          std::optional<Error> failure;
          if (error) {
            failure = Error{utf8(error.localizedDescription),
                            meansNothingSaid(utf8(error.domain), static_cast<int64_t>(error.code))};
          }
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

// One native engine. The engine raises when it has no input device at all, and the input node
// raises on a format that no longer matches the device, so every call is guarded; what was
// raised comes back as an error. An engine keeps the first format its input saw, so the layer
// reads a format that was not ready again on a fresh engine, never on this one.
class MacEngine final : public layers::NativeAudioEngine {
 public:
  MacEngine() {
    @autoreleasepool {
      guarded([&] { native = [[AVAudioEngine alloc] init]; });
    }
  }

  // Both sides of the input node must be usable: the hardware's and the one the tap sees. An
  // input that cannot even be asked for its format has no usable format. One read, no wait.
  AudioFormat outputFormat(int bus) override {
    @autoreleasepool {
      AudioFormat format;
      guarded([&] {
        AVAudioInputNode* input = native.inputNode;
        AVAudioFormat* hardware = [input inputFormatForBus:static_cast<AVAudioNodeBus>(bus)];
        formatRead = [input outputFormatForBus:static_cast<AVAudioNodeBus>(bus)];
        AudioFormat side{hardware.sampleRate, hardware.channelCount};
        format = {formatRead.sampleRate, formatRead.channelCount};
        if (!usable(side)) format = side;
      });
      return format;
    }
  }

  // With a format, the tap gets the very format object that outputFormat read; without one it
  // takes the bus's current format, which a restart after a hardware change needs.
  std::optional<Error> installTap(int bus, uint32_t bufferSize, std::optional<AudioFormat> format,
                                  TapBlock block) override {
    @autoreleasepool {
      AVAudioFormat* tapFormat = format ? formatRead : nil;
      return failure(guarded([&] {
        [native.inputNode installTapOnBus:static_cast<AVAudioNodeBus>(bus)
                               bufferSize:bufferSize
                                   format:tapFormat
                                    block:^(AVAudioPCMBuffer* buffer, AVAudioTime*) {
                                      @autoreleasepool {
                                        AudioPCMBuffer handed;
                                        handed.native = (__bridge const void*)buffer;
                                        handed.frameLength = buffer.frameLength;
                                        block(handed, AudioTime{});
                                      }
                                    }];
      }));
    }
  }

  void removeTap(int bus) override {
    @autoreleasepool {
      guarded([&] { [native.inputNode removeTapOnBus:static_cast<AVAudioNodeBus>(bus)]; });
    }
  }

  std::optional<Error> prepare() override {
    @autoreleasepool {
      return failure(guarded([&] { [native prepare]; }));
    }
  }

  std::optional<Error> start() override {
    @autoreleasepool {
      NSError* error = nil;
      BOOL started = NO;
      if (auto raised = guarded([&] { started = [native startAndReturnError:&error]; })) {
        return Error{*raised};
      }
      if (started) return std::nullopt;
      return Error{error ? utf8(error.localizedDescription) : "The audio engine did not start."};
    }
  }

  void stop() override {
    @autoreleasepool {
      guarded([&] { [native stop]; });
    }
  }

  bool isRunning() override {
    @autoreleasepool {
      BOOL running = NO;
      guarded([&] { running = native.isRunning; });
      return running;
    }
  }

  // Posted on an internal queue. The block holds only the layer's callback, which posts to the
  // main queue, never the engine, so no engine is released from there.
  void observeConfigurationChanges(std::function<void()> changed) override {
    @autoreleasepool {
      guarded([&] {
        observer = [NSNotificationCenter.defaultCenter
            addObserverForName:AVAudioEngineConfigurationChangeNotification
                        object:native
                         queue:nil
                    usingBlock:^(NSNotification*) {
                      @autoreleasepool {
                        changed();
                      }
                    }];
      });
    }
  }

  void stopObserving() override {
    @autoreleasepool {
      if (!observer) return;
      guarded([&] { [NSNotificationCenter.defaultCenter removeObserver:observer]; });
      observer = nil;
    }
  }

 private:
  static std::optional<Error> failure(const std::optional<std::string>& raised) {
    if (!raised) return std::nullopt;
    return Error{*raised};
  }

  AVAudioEngine* native = nil;
  AVAudioFormat* formatRead = nil;
  id<NSObject> observer = nil;
};

// An Objective-C exception that no @try of ours can catch, raised on a framework's own thread
// (AVFAudio's I/O and property-listener threads do): the last line goes out before the runtime
// aborts.
void onUncaughtException(NSException*) { _exit(writeLastLine()); }

class MacPlatform final : public Platform {
 public:
  explicit MacPlatform(MainQueue& mainQueue) : layers(mainQueue) {
    NSSetUncaughtExceptionHandler(&onUncaughtException);
  }

  std::shared_ptr<AudioEngine> makeAudioEngine() override {
    return layers.audioEngine([] { return std::make_shared<MacEngine>(); });
  }

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
      return layers.speechRecognizer(std::make_shared<MacRecognizer>(recognizer));
    }
  }

  std::shared_ptr<RecognitionRequest> makeRecognitionRequest() override {
    return layers.recognitionRequest([] { return std::make_shared<MacRequest>(); });
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

 private:
  layers::Layers layers;
};

}  // namespace
}  // namespace quillmate::macos

namespace quillmate {

std::unique_ptr<Platform> makeProductPlatform(MainQueue& mainQueue) {
  return std::make_unique<macos::MacPlatform>(mainQueue);
}

}  // namespace quillmate
