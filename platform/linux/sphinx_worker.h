// The task's worker on Linux: a loop that feeds the decoder what the request collects and reports
// each new transcript.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/linux/channel_estimate.h"
#include "platform/linux/formatting.h"
#include "platform/linux/model_load.h"
#include "platform/linux/rate_converter.h"
#include "platform/linux/sphinx_request.h"
#include "platform/platform.h"

namespace quillmate::linux_platform {

// What the worker shares with the task: the worker never touches the task itself, so the
// session can drop the task while the worker finishes.
struct Recognition {
  std::shared_ptr<SphinxRequest> request;
  ResultHandler handler;
  std::shared_ptr<ModelLoad> load;
  std::shared_ptr<const EstimateStore>
      estimates;  // where the channel estimate is kept, if anywhere
  // How the rate converter is made; a test may make one that cannot start.
  // How the model's words are written in each transcript; it runs on the worker's thread, never
  // on the audio thread.
  Formatter format = formatLikeDictation;
  std::function<std::optional<RateConverter>(uint32_t rate, std::size_t mostInput)> makeConverter =
      RateConverter::make;
  std::atomic<bool> cancelled{false};
};

// Decodes what the request's feed brings as it arrives, one utterance after another, reports each
// new transcript, and after the end of audio decodes the rest and reports the final result. Runs on
// a thread of its own until then, or until the task is cancelled.
void decode(std::shared_ptr<Recognition> recognition);

}  // namespace quillmate::linux_platform
