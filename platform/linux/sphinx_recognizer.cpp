#include "platform/linux/sphinx_recognizer.h"

#include <pocketsphinx.h>
#include <speex/speex_resampler.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/linux/formatting.h"
#include "platform/linux/mix.h"
#include "platform/linux/sample_ring.h"
#include "platform/linux/utterances.h"

namespace quillmate::linux_platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kModelRate = 16000;
// The ring holds everything a session can capture before its cap, with room to spare, even if
// the decoder has not read a single sample yet: 75 seconds at rates up to 192 kHz. Only the
// pages that audio reaches are ever touched.
constexpr uint32_t kMostRate = 192000;
constexpr std::size_t kRingSamples = std::size_t{kMostRate} * 75;
constexpr std::size_t kMixFrames = 1024;  // frames mixed per step on the audio thread
// The most captured samples the decoder takes in one step. It takes what has arrived as soon as
// it arrives, one capture buffer at a time while it keeps up; this bounds a step when it is
// behind, so that hypotheses keep coming while it catches up.
constexpr std::size_t kDecodeSamples = 2048;
constexpr auto kLoadWait = 10ms;  // how often a task waiting for its model looks up
// Samples of the 16 kHz audio the model takes.
constexpr uint64_t seconds(double count) { return static_cast<uint64_t>(count * kModelRate); }
// A pause-free utterance is closed after 15 s of speech: the full search of one that long takes
// about half a second here, and a longer one would hold the decoder far behind capture. An
// utterance still open when audio ends gets the full search only up to 3 s of speech (about
// 100 ms here), so the final result never waits on a search that grows with the dictation.
constexpr Utterances::Limits kUtteranceLimits{seconds(15), seconds(3)};
// Audio whose loudest sample stays below this (about -60 dB of full scale) holds no speech: no
// word, however quietly spoken, stays that far below full scale on any microphone that can
// capture it. Only such audio is answered without the model.
constexpr int32_t kSilentPeak = 33;

using Decoder = std::shared_ptr<ps_decoder_t>;

// The decoder's library keeps its log file in a global that every load sets, so loads and frees
// in one process (a second recognizer, a test's next case) take turns.
std::mutex& libraryGlobals() {
  static std::mutex mutex;
  return mutex;
}

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

// One model load, running on a thread of its own and waited for by the task that needs it.
struct ModelLoad {
  std::mutex mutex;
  std::condition_variable ready;
  bool done = false;
  Decoder decoder;

  static std::shared_ptr<ModelLoad> start(const ModelFiles& model) {
    auto load = std::make_shared<ModelLoad>();
    std::thread([load, model] {
      Decoder decoder = loadDecoder(model);
      std::lock_guard lock(load->mutex);
      load->decoder = std::move(decoder);
      load->done = true;
      load->ready.notify_all();
    }).detach();
    return load;
  }
};

class SphinxRequest final : public RecognitionRequest {
 public:
  SphinxRequest() : ring(kRingSamples), mono(kMixFrames) {}

  // The model always recognises; nothing here changes what it does.
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}

  // On the audio thread: mixes to 16-bit mono in a fixed buffer and hands it to the decoder's
  // thread through the ring, which converts the rate there, and wakes that thread. No
  // allocation, no lock.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    const uint32_t channels = buffer.format.channelCount;
    const double rate = std::round(buffer.format.sampleRate);
    if (!buffer.data || channels == 0 || !(rate >= 1.0 && rate <= kMostRate)) return;
    uint32_t expected = 0;
    uint32_t wanted = static_cast<uint32_t>(rate);
    // A tap's buffers keep one format; audio in another rate would be decoded at the wrong
    // speed, so it is left out.
    if (!inputRate.compare_exchange_strong(expected, wanted) && expected != wanted) return;
    for (uint32_t done = 0; done < buffer.frameLength;) {
      const uint32_t frames =
          static_cast<uint32_t>(std::min<std::size_t>(kMixFrames, buffer.frameLength - done));
      mix(buffer, done, frames);
      ring.push(mono.data(), frames);
      done += frames;
    }
    wake();
  }

  void endAudio() override {
    audioEnded.store(true, std::memory_order_release);
    wake();
  }

  // Tells the decoder's thread that something changed: audio arrived, audio ended, or the task
  // was cancelled. A futex wake: no lock, no allocation.
  void wake() {
    changes.fetch_add(1, std::memory_order_release);
    changes.notify_one();
  }

  SampleRing ring;
  std::atomic<uint32_t> inputRate{0};  // set by the first buffer appended
  std::atomic<bool> audioEnded{false};
  std::atomic<uint32_t> changes{0};
  std::atomic<int32_t> loudest{0};  // the largest sample magnitude appended so far

 private:
  void mix(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames) {
    mixToMono(buffer, first, frames, mono.data());
    int32_t peak = loudest.load(std::memory_order_relaxed);
    for (uint32_t frame = 0; frame < frames; ++frame) {
      peak = std::max<int32_t>(peak, std::abs(int32_t{mono[frame]}));
    }
    loudest.store(peak, std::memory_order_relaxed);
  }

  std::vector<int16_t> mono;
};

// Turns the captured rate into the model's 16 kHz, on the decoder's thread.
class RateConverter {
 public:
  explicit RateConverter(uint32_t inputRate)
      : state(inputRate == kModelRate
                  ? nullptr
                  : speex_resampler_init(1, inputRate, kModelRate, SPEEX_RESAMPLER_QUALITY_DEFAULT,
                                         &error),
              speex_resampler_destroy),
        output(kDecodeSamples * 2 + 64) {}

  // The 16 kHz samples for `count` input samples.
  std::pair<const int16_t*, std::size_t> convert(const int16_t* input, std::size_t count) {
    if (!state) return {input, count};
    converted.clear();
    while (count > 0) {
      spx_uint32_t taken = static_cast<spx_uint32_t>(count);
      spx_uint32_t made = static_cast<spx_uint32_t>(output.size());
      speex_resampler_process_int(state.get(), 0, input, &taken, output.data(), &made);
      converted.insert(converted.end(), output.begin(), output.begin() + made);
      if (taken == 0 && made == 0) break;
      input += taken;
      count -= taken;
    }
    return {converted.data(), converted.size()};
  }

 private:
  int error = 0;
  std::unique_ptr<SpeexResamplerState, void (*)(SpeexResamplerState*)> state;
  std::vector<int16_t> output;
  std::vector<int16_t> converted;
};

// What the task's worker shares with the task: the worker never touches the task itself, so
// the session can drop the task while the worker finishes.
struct Recognition {
  std::shared_ptr<SphinxRequest> request;
  ResultHandler handler;
  std::shared_ptr<ModelLoad> load;
  std::atomic<bool> cancelled{false};
};

enum class ModelWait { loaded, cancelled, nothingSaid };

// Waits for the model to finish loading. A stop that comes first, with nothing but silence
// captured, needs no model: nothing was said, and saying so at once spares the user the rest of
// the load. Anything louder waits for the model, however quiet.
ModelWait awaitModel(Recognition& recognition, Decoder& decoder) {
  ModelLoad& load = *recognition.load;
  SphinxRequest& request = *recognition.request;
  std::unique_lock lock(load.mutex);
  while (!load.done) {
    if (recognition.cancelled) return ModelWait::cancelled;
    // Audio ended before its last sample was measured is impossible: the tap is removed first.
    if (request.audioEnded.load(std::memory_order_acquire) &&
        request.loudest.load(std::memory_order_relaxed) < kSilentPeak) {
      return ModelWait::nothingSaid;
    }
    load.ready.wait_for(lock, kLoadWait);
  }
  decoder = load.decoder;
  return ModelWait::loaded;
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

// The task's worker: decodes what the request collects as it arrives, one utterance after
// another, reports each new transcript, and after the end of audio decodes the rest and reports
// the final result.
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
  for (;;) {
    // Read before looking for work, so that a change made after the look wakes the wait below.
    uint32_t seen = request.changes.load(std::memory_order_acquire);
    if (recognition->cancelled) return;
    // Read before taking samples, so that every sample appended before the end is taken.
    bool ended = request.audioEnded.load(std::memory_order_acquire);
    std::size_t count = request.ring.pop(chunk.data(), chunk.size());
    if (count > 0) {
      if (!converter) converter.emplace(request.inputRate.load());
      auto [samples, converted] = converter->convert(chunk.data(), count);
      if (ps_process_raw(ps, samples, converted, FALSE, FALSE) < 0) {
        return fail(*recognition, "Recognition failed while decoding audio.");
      }
      if (utterances.closes(ps_get_in_speech(ps), converted)) {
        if (ps_end_utt(ps) < 0) return fail(*recognition, "Recognition could not finish.");
        utterances.commit(hypothesis(ps));
        if (ps_start_utt(ps) < 0) return fail(*recognition, "Recognition could not start.");
      }
      std::string text = utterances.transcript(hypothesis(ps));
      if (text != reported && !recognition->cancelled) {
        reported = text;
        report(*recognition, text, false);
      }
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
  if (!recognition->cancelled) report(*recognition, utterances.transcript(""), true);
}

class SphinxTask final : public RecognitionTask {
 public:
  explicit SphinxTask(std::shared_ptr<Recognition> recognition)
      : recognition(std::move(recognition)) {}
  // The worker sees this before its next step and stops without another call of the handler.
  void cancel() override {
    recognition->cancelled = true;
    recognition->request->wake();
  }

 private:
  std::shared_ptr<Recognition> recognition;
};

class SphinxRecognizer final : public SpeechRecognizer {
 public:
  // The model's files are checked once, at process start; the start-up check reads the answer.
  explicit SphinxRecognizer(ModelFiles model)
      : model(std::move(model)), available(this->model.readable()) {
    if (available) preload = ModelLoad::start(this->model);
  }

  bool isAvailable() override { return available; }
  bool supportsOnDeviceRecognition() override { return true; }  // nothing leaves the machine

  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override {
    auto recognition = std::make_shared<Recognition>();
    // Only this platform's own requests reach its recognizer.
    recognition->request = std::static_pointer_cast<SphinxRequest>(std::move(request));
    recognition->handler = std::move(handler);
    recognition->load = preload ? std::move(preload) : ModelLoad::start(model);
    preload.reset();
    std::thread(decode, recognition).detach();
    return std::make_shared<SphinxTask>(recognition);
  }

 private:
  ModelFiles model;
  const bool available;
  std::shared_ptr<ModelLoad> preload;
};

}  // namespace

ModelFiles ModelFiles::in(const std::string& folder) {
  return {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
}

ModelFiles ModelFiles::installed(const std::string& folder) {
  struct stat status;
  std::string binary = folder + "/language-model.lm.bin";
  bool hasBinary = lstat(binary.c_str(), &status) == 0;
  return {folder + "/acoustic-model", hasBinary ? binary : folder + "/language-model.lm",
          folder + "/dictionary.dict"};
}

namespace {

// The decoder's library ends the whole process when it cannot read a file it was given (a
// folder where a file should be, say), so each one is checked here first.
bool readableFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

}  // namespace

// A binary language model ends with its vocabulary, each word ended by a NUL. The decoder's
// library reads those words with strlen, past the end of its buffer when the file was cut short,
// so a file that does not end with a NUL is refused before the library sees it. A text (ARPA)
// model must be a whole document: "\data\" at the start of a line near its beginning, and
// "\end\" as its last word. Both checks read a few kilobytes at most.
bool ModelFiles::languageModelIsWhole() const {
  const std::string& path = languageModel;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  if (path.size() < 3 || path.compare(path.size() - 3, 3, ".lm") != 0) {
    if (std::fseek(file.get(), -1, SEEK_END) != 0) return false;
    return std::fgetc(file.get()) == 0;
  }
  std::string head(4096, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file.get()));
  std::size_t data = head.find("\\data\\");
  if (data == std::string::npos || (data > 0 && head[data - 1] != '\n')) return false;
  std::string tail(64, '\0');
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  long size = std::ftell(file.get());
  if (std::fseek(file.get(), std::max(0L, size - 64), SEEK_SET) != 0) return false;
  tail.resize(std::fread(tail.data(), 1, tail.size(), file.get()));
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back()))) tail.pop_back();
  return tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\\end\\") == 0;
}

bool ModelFiles::readable() const {
  for (const char* file : {"mdef", "means", "variances", "transition_matrices", "sendump",
                           "feat.params", "noisedict"}) {
    if (!readableFile(acousticModel + "/" + file)) return false;
  }
  return readableFile(languageModel) && readableFile(dictionary) && languageModelIsWhole();
}

std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(ModelFiles model) {
  return std::make_shared<SphinxRecognizer>(std::move(model));
}

std::shared_ptr<RecognitionRequest> makeSphinxRequest() {
  return std::make_shared<SphinxRequest>();
}

double undecodedSeconds(const RecognitionRequest& request) {
  const auto& sphinx = static_cast<const SphinxRequest&>(request);
  uint32_t rate = sphinx.inputRate.load();
  return rate ? static_cast<double>(sphinx.ring.size()) / rate : 0.0;
}

}  // namespace quillmate::linux_platform
