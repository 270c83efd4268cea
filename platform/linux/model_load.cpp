#include "platform/linux/model_load.h"

#include <pocketsphinx.h>

#include <thread>

#include "platform/linux/decoder_estimate.h"

namespace quillmate::linux_platform {
namespace {

// The decoder's library keeps its log file in a global that every load sets, so loads and frees
// in one process (a second recognizer, a test's next case) take turns.
std::mutex& libraryGlobals() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

Decoder loadDecoder(const ModelFiles& model) {
  std::lock_guard lock(libraryGlobals());
  // The decoder's own defaults otherwise: its voice-activity detector drops silence and marks
  // the pauses between utterances, and each utterance ends with the full search (the
  // flat-lexicon pass and the best-path search of the word lattice). The worker keeps that
  // search's cost bounded by the length of an utterance, never of the dictation.
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(),
                                 "-lm", model.languageModel.c_str(), "-dict",
                                 model.dictionary.c_str(), "-logfn", "/dev/null", nullptr);
  if (!config) return nullptr;
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);  // the decoder keeps its own reference
  if (!decoder) return nullptr;
  return Decoder(decoder, [](ps_decoder_t* freed) {
    std::lock_guard lock(libraryGlobals());
    ps_free(freed);
  });
}

std::shared_ptr<ModelLoad> ModelLoad::start(const ModelFiles& model,
                                            std::shared_ptr<const EstimateStore> estimates) {
  auto load = std::make_shared<ModelLoad>();
  std::thread([load, model, estimates] {
    Decoder decoder = loadDecoder(model);
    // Before the decoder is handed over, so before any audio is decoded.
    if (decoder && estimates) {
      if (auto kept = estimates->read(estimateLength(decoder.get()))) {
        applyEstimate(decoder.get(), *kept);
      }
    }
    std::function<void()> wake;
    {
      std::lock_guard lock(load->mutex);
      load->decoder = std::move(decoder);
      load->done = true;
      wake = std::move(load->waiter);
    }
    if (wake) wake();
  }).detach();
  return load;
}

std::optional<Decoder> ModelLoad::decoderOrWake(std::function<void()> wake) {
  std::lock_guard lock(mutex);
  if (done) return decoder;
  waiter = std::move(wake);
  return std::nullopt;
}

}  // namespace quillmate::linux_platform
