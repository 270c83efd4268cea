// Loading a model into the decoder, on a thread of its own, so that the load overlaps start-up
// instead of delaying "listening".
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/linux/channel_estimate.h"
#include "platform/linux/model_files.h"

struct ps_decoder_s;

namespace quillmate::linux_platform {

using Decoder = std::shared_ptr<ps_decoder_s>;

// Loads the model with the decoder's own search settings; null when the library refuses it.
Decoder loadDecoder(const ModelFiles& model);

// One model load in progress, waited for by the task that needs it.
class ModelLoad {
 public:
  // Once loaded, the decoder starts from the estimate kept in `estimates`, if there is a valid
  // one; otherwise from the model's own.
  static std::shared_ptr<ModelLoad> start(const ModelFiles& model,
                                          std::shared_ptr<const EstimateStore> estimates);

  // The decoder, once the load is done; otherwise `wake` is called once when it is, from the
  // loading thread, so that the waiter can sleep on a wake-up of its own instead of polling.
  std::optional<Decoder> decoderOrWake(std::function<void()> wake);

 private:
  std::mutex mutex;
  bool done = false;
  Decoder decoder;
  std::function<void()> waiter;
};

}  // namespace quillmate::linux_platform
