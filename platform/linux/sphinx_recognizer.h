// On-device recognition with pocketsphinx: the recognizer and its task. The model's files are in
// model_files.h, the request in sphinx_request.h, the worker in sphinx_worker.h.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/formatting.h"
#include "platform/linux/model_files.h"
#include "platform/linux/sphinx_request.h"
#include "platform/platform.h"

namespace quillmate::linux_platform {

// A recognizer for one model. When the model is readable it starts loading it at once, on a
// thread of its own, so that the load overlaps start-up instead of delaying "listening". With a
// state folder, each dictation starts from the channel estimate that the last one kept there for
// this model, and keeps its own at its end (channel_estimate.h). Every transcript it delivers is
// the model's words written by `format`.
std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(
    ModelFiles model, std::optional<std::string> stateFolder = std::nullopt,
    Formatter format = formatLikeDictation);

// A request that takes what the tap appends (any rate, any channels, float or 16-bit samples)
// without allocating or waiting; its task turns it into the 16 kHz mono audio the model needs.
std::shared_ptr<SphinxRequest> makeSphinxRequest();

}  // namespace quillmate::linux_platform
