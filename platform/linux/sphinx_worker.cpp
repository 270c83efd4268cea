#include "platform/linux/sphinx_worker.h"

#include <pocketsphinx.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/decoder_estimate.h"
#include "platform/linux/decoder_feed.h"
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

// Waits for the model to finish loading, asleep on the feed's own wake-up, which the load rings
// when it is done. A stop that comes first, with nothing but silence captured, needs no model:
// nothing was said, and saying so at once spares the user the rest of the load. Anything
// louder waits for the model, however quiet.
ModelWait awaitModel(Recognition& recognition, Decoder& decoder) {
  DecoderFeed& feed = recognition.request->feed;
  auto wakeFeed = [weak = std::weak_ptr<SphinxRequest>(recognition.request)] {
    if (auto waiting = weak.lock()) waiting->feed.wake();
  };
  for (;;) {
    DecoderFeed::Look look = feed.look();
    if (auto loaded = recognition.load->decoderOrWake(wakeFeed)) {
      decoder = std::move(*loaded);
      return ModelWait::loaded;
    }
    if (recognition.cancelled) return ModelWait::cancelled;
    // Audio ended before its last sample was measured is impossible: the tap is removed first.
    if (look.ended && feed.loudest() < kSilentPeak) return ModelWait::nothingSaid;
    feed.waitForChange(look.change);
  }
}

void report(Recognition& recognition, const std::string& words, bool isFinal) {
  recognition.handler(RecognitionResult{{recognition.format(words)}, isFinal}, std::nullopt);
}

void fail(Recognition& recognition, std::string description) {
  if (!recognition.cancelled) recognition.handler(std::nullopt, Error{std::move(description)});
}

std::string hypothesis(ps_decoder_t* decoder) {
  const char* text = ps_get_hyp(decoder, nullptr);
  return text ? text : "";
}

// One dictation's decoding, once the model is loaded: utterance after utterance, each step's
// audio converted to the model's rate, and each new transcript reported. Every method that can
// fail reports the failure itself and gives false; the task then ends.
class Decoding {
 public:
  Decoding(Recognition& recognition, ps_decoder_t* decoder)
      : recognition(recognition), ps(decoder), feed(recognition.request->feed) {}

  bool begin() { return startUtterance(); }

  // The most captured samples to decode in the next step. In a batch, one capture buffer, as
  // when woken for each buffer: the detector sees the same steps, so it finds pauses on the
  // same frames.
  std::size_t stepSamples() const {
    if (!batching) return kDecodeSamples;
    return std::clamp<std::size_t>(feed.lastBufferFrames(), 1, kDecodeSamples);
  }

  // Decodes `count` captured samples, closing the utterance when the detector says so.
  bool step(const int16_t* captured, std::size_t count) {
    if (!converter && !startConverter()) return false;
    auto [samples, converted] = converter->convert(captured, count);
    if (ps_process_raw(ps, samples, converted, FALSE, FALSE) < 0) {
      fail(recognition, "Recognition failed while decoding audio.");
      return false;
    }
    if (ps_get_in_speech(ps)) speech += converted;
    const bool closed = utterances.closes(ps_get_in_speech(ps), converted);
    if (closed) {
      if (!endUtterance()) return false;
      utterances.commit(hypothesis(ps));
      if (!startUtterance()) return false;
    }
    // A batch is reported once, when it is decoded, rather than after every step; a long one
    // at least every kBatchSeconds of audio.
    unreported += converted;
    if (batching && !closed && unreported < modelSamples(kBatchSeconds) && feed.waiting() > 0) {
      return true;
    }
    reportIfChanged();
    return true;
  }

  // Reports the transcript when it differs from the last one reported, and chooses how the
  // decoder's thread is woken from here on.
  void reportIfChanged() {
    unreported = 0;
    const std::string open = hypothesis(ps);
    std::string text = utterances.transcript(open);
    if (text != reported && !recognition.cancelled) {
      reported = text;
      report(recognition, text, false);
    }
    // Until the open utterance shows words every buffer counts for the first words, and in
    // silence for the pause that ends the utterance; after that, audio is taken in batches.
    batching = ps_get_in_speech(ps) && !open.empty();
    feed.setBatch(batching ? batchSamples : 0);
  }

  // After the end of audio, once everything captured is decoded: the final result, and the
  // channel estimate kept.
  void finish() {
    // A long open utterance keeps its first-pass hypothesis: its full search would grow with it.
    if (utterances.fullSearchAtEnd() && !endUtterance()) return;
    utterances.commit(hypothesis(ps));
    // The estimate is taken once the final result is decided and written once it is on its
    // way, so that keeping it never delays the final line.
    std::optional<ExitWaitsForWrite> keeping;
    Estimate estimate;
    if (recognition.estimates && speech >= modelSamples(kSpeechToKeepSeconds)) {
      estimate = liveEstimate(ps);
      keeping.emplace();
    }
    if (!recognition.cancelled) report(recognition, utterances.transcript(""), true);
    if (keeping && !estimate.empty()) recognition.estimates->write(estimate);
  }

 private:
  bool startUtterance() {
    if (ps_start_utt(ps) >= 0) return true;
    fail(recognition, kCouldNotStart);
    return false;
  }

  bool endUtterance() {
    if (ps_end_utt(ps) >= 0) return true;
    fail(recognition, "Recognition could not finish.");
    return false;
  }

  // Made with the first audio, whose rate fixes the feed's.
  bool startConverter() {
    const uint32_t rate = feed.rate();
    converter = recognition.makeConverter(rate, kDecodeSamples);
    if (!converter) {
      fail(recognition, kCouldNotStart);
      return false;
    }
    batchSamples = static_cast<std::size_t>(rate * kBatchSeconds);
    return true;
  }

  static constexpr const char* kCouldNotStart = "Recognition could not start.";

  Recognition& recognition;
  ps_decoder_t* const ps;
  DecoderFeed& feed;
  Utterances utterances{kUtteranceLimits};
  std::optional<RateConverter> converter;
  std::string reported;
  std::size_t batchSamples = 0;  // kBatchSeconds of captured samples, once the rate is known
  bool batching = false;
  uint64_t unreported = 0;  // samples of the model's audio decoded since the last report
  uint64_t speech = 0;      // samples of the model's audio decoded in speech
};

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
  Decoding decoding(*recognition, decoder.get());
  if (!decoding.begin()) return;
  DecoderFeed& feed = recognition->request->feed;
  std::vector<int16_t> chunk(kDecodeSamples);
  for (;;) {
    const DecoderFeed::Look look = feed.look();
    if (recognition->cancelled) return;
    if (std::size_t count = feed.take(chunk.data(), decoding.stepSamples())) {
      if (!decoding.step(chunk.data(), count)) return;
      continue;
    }
    if (look.ended) break;
    feed.waitForChange(look.change);
  }
  decoding.finish();
}

}  // namespace quillmate::linux_platform
