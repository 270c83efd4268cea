// Start-up: the availability check, "starting", and the microphone and speech permissions.
#include <string>

#include "output/status_line.h"
#include "session/dictation.h"
#include "session/messages.h"

namespace quillmate {

using authorization::kAuthorized;
using authorization::kNotDetermined;

void Dictation::start() {
  // Asked in this order, and the first "no" ends the check: an absent recognizer is asked
  // nothing, and an unavailable one is not asked about on-device support.
  bool usable =
      recognizer && recognizer->isAvailable() && recognizer->supportsOnDeviceRecognition();
  if (!usable) {
    if (ended) return;
    complete(context.platform.unavailableMessage().value_or(std::string(messages::unavailable)));
    return;
  }
  emit("starting");
  int64_t status = context.platform.authorizationStatusForMediaType(MediaType::audio);
  if (status == kNotDetermined) {
    context.platform.requestAccessForMediaType(
        MediaType::audio, [self = shared_from_this(), queue = &context.mainQueue](bool granted) {
          queue->post([self, granted] { self->microphoneAccessAnswered(granted); });
        });
    return;
  }
  if (status == kAuthorized) {
    authorizeSpeech();
    return;
  }
  if (ended) return;
  complete(std::string(messages::microphone));
}

void Dictation::authorizeSpeech() {
  // Asked on every run: only the status delivered to the callback decides.
  context.platform.requestAuthorization(
      [self = shared_from_this(), queue = &context.mainQueue](int64_t status) {
        queue->post([self, status] { self->speechAuthorizationAnswered(status); });
      });
}

void Dictation::microphoneAccessAnswered(bool granted) {
  if (ended) return;
  if (granted) {
    authorizeSpeech();
  } else {
    complete(std::string(messages::microphone));
  }
}

void Dictation::speechAuthorizationAnswered(int64_t status) {
  if (ended) return;
  if (status == kAuthorized) {
    listen();
  } else {
    complete(std::string(messages::speechRecognition));
  }
}

}  // namespace quillmate
