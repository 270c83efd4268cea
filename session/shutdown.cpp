// Construction and the two-stage shutdown: `finish` and `complete`.
#include <utility>

#include "output/status_line.h"
#include "session/dictation.h"

namespace quillmate {

Dictation::Dictation(SessionContext sessionContext) : context(std::move(sessionContext)) {
  engine = context.platform.makeAudioEngine();
  // The first argument, unchanged, names the locale; without one the user's current locale
  // counts. Further arguments are ignored.
  Locale locale;
  if (context.arguments.size() >= 2) locale.identifier = context.arguments[1];
  recognizer = context.platform.makeSpeechRecognizer(locale);
}

void Dictation::stopCapture() {
  engine->stop();
  if (tapped) {
    engine->inputNode().removeTap(kInputBus);
    tapped = false;
  }
  if (request) request->endAudio();
}

void Dictation::finish(std::optional<std::string> error) {
  if (ended) return;
  if (error) {
    complete(std::move(error));
    return;
  }
  if (finishing) return;
  finishing = true;
  context.stopRequested();
  stopCapture();
  if (recognition) {
    // The grace period lets the recognizer deliver its final result; the result handler then
    // completes the session itself, and this completion finds it ended.
    context.mainQueue.postAfter(context.gracePeriod,
                                [self = shared_from_this()] { self->complete(); });
    return;
  }
  complete();
}

void Dictation::complete(std::optional<std::string> error) {
  if (ended) return;
  ended = true;
  stopCapture();
  if (recognition) recognition->cancel();
  recognition.reset();
  request.reset();
  int status = error ? 1 : 0;
  // When another road has already written the process's final line, that line stands, and it
  // is always an "error" line.
  if (!context.claimFinalLine(status)) {
    context.exitProcess(1);
    return;
  }
  if (error) {
    emit("error", text, *error);
  } else {
    emit("done", text);
  }
  context.exitProcess(status);
}

}  // namespace quillmate
