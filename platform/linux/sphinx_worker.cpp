#include "platform/linux/sphinx_worker.h"

#include <pocketsphinx.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/decoder_estimate.h"
#include "platform/linux/formatting.h"
#include "platform/linux/rate_converter.h"
#include "platform/linux/utterances.h"

namespace quillmate::linux_platform {
namespace {

// The most captured samples the decoder takes in one step. It takes what has arrived as soon as
// it arrives, one capture buffer at a time while it keeps up; this bounds a step when it is
// behind, so that hypotheses keep coming while it catches up.
constexpr std::size_t kDecodeSamples = 2048;
// Samples of the model's 16 kHz audio in `seconds`.
constexpr uint64_t modelSamples(double seconds) {
  return static_cast<uint64_t>(seconds * kModelRate);
}
// Once the open utterance shows words, the decoder's thread is woken only when this much audio
// is waiting, at the end of audio, or on a cancel. Each wake-up costs decoder time beyond the
// audio it brings, so fewer cost less; the words then showing still move about eight times a
// second, and at most this much audio is left to decode when the user stops mid-sentence.
constexpr double kBatchSeconds = 0.128;
// A pause-free utterance is closed after 15 s of speech: the full search of one that long takes
// about half a second here, and a longer one would hold the decoder far behind capture. An
// utterance still open when audio ends gets the full search only up to 3 s of speech (about
// 100 ms here), so the final result never waits on a search that grows with the dictation.
constexpr Utterances::Limits kUtteranceLimits{modelSamples(15), modelSamples(3)};
// A dictation keeps its channel estimate only after this much speech: a shorter one has moved
// the estimate too little from where it started to tell more about the microphone.
constexpr double kSpeechToKeepSeconds = 1.0;
// Audio whose loudest sample stays below this (about -60 dB of full scale) holds no speech: no
// word, however quietly spoken, stays that far below full scale on any microphone that can
// capture it. Only such audio is answered without the model.
constexpr int32_t kSilentPeak = 33;

enum class ModelWait { loaded, cancelled, nothingSaid };

// Waits for the model to finish loading, asleep on the request's own wake-up, which the load
// rings when it is done. A stop that comes first, with nothing but silence captured, needs no
// model: nothing was said, and saying so at once spares the user the rest of the load. Anything
// louder waits for the model, however quiet.
ModelWait awaitModel(Recognition& recognition, Decoder& decoder) {
  SphinxRequest& request = *recognition.request;
  auto wakeRequest = [weak = std::weak_ptr<SphinxRequest>(recognition.request)] {
    if (auto waiting = weak.lock()) waiting->wake();
  };
  for (;;) {
    // Read before looking, so that a change made after the look wakes the wait below.
    uint32_t seen = request.changes.load(std::memory_order_acquire);
    if (auto loaded = recognition.load->decoderOrWake(wakeRequest)) {
      decoder = std::move(*loaded);
      return ModelWait::loaded;
    }
    if (recognition.cancelled) return ModelWait::cancelled;
    // Audio ended before its last sample was measured is impossible: the tap is removed first.
    if (request.audioEnded.load(std::memory_order_acquire) &&
        request.loudest.load(std::memory_order_relaxed) < kSilentPeak) {
      return ModelWait::nothingSaid;
    }
    request.changes.wait(seen, std::memory_order_acquire);
  }
}

void report(Recognition& recognition, const std::string& words, bool isFinal) {
  recognition.handler(RecognitionResult{{formatLikeDictation(words)}, isFinal}, std::nullopt);
}

void fail(Recognition& recognition, std::string description) {
  if (!recognition.cancelled) recognition.handler(std::nullopt, Error{std::move(description)});
}

std::string hypothesis(ps_decoder_t* decoder) {
  const char* text = ps_get_hyp(decoder, nullptr);
  return text ? text : "";
}

// The most captured samples to decode in the next step. In a batch, one capture buffer, as
// when woken for each buffer: the detector sees the same steps, so it finds pauses on the same
// frames.
std::size_t stepSamples(const SphinxRequest& request, bool batching) {
  if (!batching) return kDecodeSamples;
  return std::clamp<std::size_t>(request.bufferFrames.load(std::memory_order_relaxed), 1,
                                 kDecodeSamples);
}

}  // namespace

void decode(std::shared_ptr<Recognition> recognition) {
  Decoder decoder;
  switch (awaitModel(*recognition, decoder)) {
    case ModelWait::cancelled:
      return;
    case ModelWait::nothingSaid:
      return report(*recognition, "", true);
    case ModelWait::loaded:
      break;
  }
  if (!decoder) return fail(*recognition, "The speech model could not be loaded.");
  ps_decoder_t* ps = decoder.get();
  if (ps_start_utt(ps) < 0) return fail(*recognition, "Recognition could not start.");
  Utterances utterances(kUtteranceLimits);
  std::vector<int16_t> chunk(kDecodeSamples);
  std::optional<RateConverter> converter;
  std::string reported;
  SphinxRequest& request = *recognition->request;
  std::size_t batchSamples = 0;  // kBatchSeconds of captured samples, once the rate is known
  bool batching = false;
  uint64_t unreported = 0;  // samples of the model's audio decoded since the last report
  uint64_t speech = 0;      // samples of the model's audio decoded in speech
  for (;;) {
    // Read before looking for work, so that a change made after the look wakes the wait below.
    uint32_t seen = request.changes.load(std::memory_order_acquire);
    if (recognition->cancelled) return;
    // Read before taking samples, so that every sample appended before the end is taken.
    bool ended = request.audioEnded.load(std::memory_order_acquire);
    std::size_t count = request.ring.pop(chunk.data(), stepSamples(request, batching));
    if (count > 0) {
      if (!converter) {
        const uint32_t rate = request.inputRate.load();
        converter.emplace(rate, kDecodeSamples);
        batchSamples = static_cast<std::size_t>(rate * kBatchSeconds);
      }
      auto [samples, converted] = converter->convert(chunk.data(), count);
      if (ps_process_raw(ps, samples, converted, FALSE, FALSE) < 0) {
        return fail(*recognition, "Recognition failed while decoding audio.");
      }
      if (ps_get_in_speech(ps)) speech += converted;
      bool closed = utterances.closes(ps_get_in_speech(ps), converted);
      if (closed) {
        if (ps_end_utt(ps) < 0) return fail(*recognition, "Recognition could not finish.");
        utterances.commit(hypothesis(ps));
        if (ps_start_utt(ps) < 0) return fail(*recognition, "Recognition could not start.");
      }
      // A batch is reported once, when it is decoded, rather than after every step; a long one
      // at least every kBatchSeconds of audio.
      unreported += converted;
      if (batching && !closed && unreported < modelSamples(kBatchSeconds) &&
          request.ring.size() > 0) {
        continue;
      }
      unreported = 0;
      std::string open = hypothesis(ps);
      std::string text = utterances.transcript(open);
      if (text != reported && !recognition->cancelled) {
        reported = text;
        report(*recognition, text, false);
      }
      // Until the open utterance shows words every buffer counts for the first words, and in
      // silence for the pause that ends the utterance; after that, audio is taken in batches.
      batching = ps_get_in_speech(ps) && !open.empty();
      // A read-modify-write, paired with the one in the append: either the append reads the
      // new value, or the next look at the ring finds what it appended.
      request.wakeAtSamples.exchange(batching ? batchSamples : 0, std::memory_order_acq_rel);
      continue;
    }
    if (ended) break;
    request.changes.wait(seen, std::memory_order_acquire);
  }
  // A long open utterance keeps its first-pass hypothesis: its full search would grow with it.
  if (utterances.fullSearchAtEnd()) {
    if (ps_end_utt(ps) < 0) return fail(*recognition, "Recognition could not finish.");
  }
  utterances.commit(hypothesis(ps));
  // The estimate is taken once the final result is decided and written once it is on its way,
  // so that keeping it never delays the final line.
  std::optional<ExitWaitsForWrite> keeping;
  Estimate estimate;
  if (recognition->estimates && speech >= modelSamples(kSpeechToKeepSeconds)) {
    estimate = liveEstimate(ps);
    keeping.emplace();
  }
  if (!recognition->cancelled) report(*recognition, utterances.transcript(""), true);
  if (keeping && !estimate.empty()) recognition->estimates->write(estimate);
}

}  // namespace quillmate::linux_platform
