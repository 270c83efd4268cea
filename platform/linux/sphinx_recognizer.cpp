#include "platform/linux/sphinx_recognizer.h"

#include <pocketsphinx.h>
#include <samplerate.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/linux/sample_ring.h"

namespace quillmate::linux_platform {
namespace {

using namespace std::chrono_literals;

constexpr double kModelRate = 16000.0;
// Everything a session can capture before its cap, with room to spare, even if the decoder
// has not read a single sample yet.
constexpr std::size_t kRingSamples = static_cast<std::size_t>(kModelRate) * 75;
// Frames converted per step on the audio thread, and the room for their converted samples.
constexpr std::size_t kStepFrames = 1024;
constexpr std::size_t kConvertedRoom = 8192;
constexpr std::size_t kDecodeSamples = 2048;  // 128 ms of audio between hypotheses
constexpr auto kIdleWait = 10ms;

using Decoder = std::shared_ptr<ps_decoder_t>;

Decoder loadDecoder(const ModelFiles& model) {
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(),
                                 "-lm", model.languageModel.c_str(), "-dict",
                                 model.dictionary.c_str(), "-logfn", "/dev/null", nullptr);
  if (!config) return nullptr;
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);  // the decoder keeps its own reference
  if (!decoder) return nullptr;
  return Decoder(decoder, ps_free);
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
  SphinxRequest()
      : ring(kRingSamples),
        converter(src_new(SRC_SINC_FASTEST, 1, &converterError), src_delete),
        mono(kStepFrames),
        converted(kConvertedRoom),
        samples(kConvertedRoom) {}

  // The model always recognises; nothing here changes what it does.
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool) override {}
  void setTaskHint(int64_t) override {}

  // On the audio thread: mixes to mono, converts to 16 kHz in fixed buffers and hands the
  // samples to the decoder through the ring. No allocation, no lock.
  void appendAudioPCMBuffer(const AudioPCMBuffer& buffer) override {
    const uint32_t channels = buffer.format.channelCount;
    const double ratio = kModelRate / buffer.format.sampleRate;
    if (!converter || !buffer.data || channels == 0 || !src_is_valid_ratio(ratio)) return;
    // Small enough that the converted samples always fit their room.
    const std::size_t step = std::clamp<std::size_t>(
        static_cast<std::size_t>((kConvertedRoom - 16) / std::ceil(ratio)), 1, kStepFrames);
    for (uint32_t done = 0; done < buffer.frameLength;) {
      const uint32_t frames =
          static_cast<uint32_t>(std::min<std::size_t>(step, buffer.frameLength - done));
      mix(buffer, done, frames);
      convert(frames, ratio);
      done += frames;
    }
  }

  void endAudio() override { audioEnded.store(true, std::memory_order_release); }

  SampleRing ring;
  std::atomic<bool> audioEnded{false};

 private:
  void mix(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames) {
    const uint32_t channels = buffer.format.channelCount;
    for (uint32_t frame = 0; frame < frames; ++frame) {
      float sum = 0.0f;
      std::size_t at = (std::size_t{first} + frame) * channels;
      for (uint32_t channel = 0; channel < channels; ++channel) {
        sum += buffer.sampleType == SampleType::float32
                   ? static_cast<const float*>(buffer.data)[at + channel]
                   : static_cast<const int16_t*>(buffer.data)[at + channel] / 32768.0f;
      }
      mono[frame] = sum / static_cast<float>(channels);
    }
  }

  void convert(uint32_t frames, double ratio) {
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = frames;
    while (data.input_frames > 0) {
      data.data_out = converted.data();
      data.output_frames = static_cast<long>(converted.size());
      data.src_ratio = ratio;
      if (src_process(converter.get(), &data) != 0) return;
      for (long i = 0; i < data.output_frames_gen; ++i) {
        float clamped = std::clamp(converted[i], -1.0f, 1.0f);
        samples[i] = static_cast<int16_t>(std::lround(clamped * 32767.0f));
      }
      ring.push(samples.data(), static_cast<std::size_t>(data.output_frames_gen));
      if (data.input_frames_used == 0 && data.output_frames_gen == 0) return;
      data.data_in += data.input_frames_used;
      data.input_frames -= data.input_frames_used;
    }
  }

  int converterError = 0;
  std::unique_ptr<SRC_STATE, SRC_STATE* (*)(SRC_STATE*)> converter;
  std::vector<float> mono;
  std::vector<float> converted;
  std::vector<int16_t> samples;
};

// What the task's worker shares with the task: the worker never touches the task itself, so
// the session can drop the task while the worker finishes.
struct Recognition {
  std::shared_ptr<SphinxRequest> request;
  ResultHandler handler;
  std::shared_ptr<ModelLoad> load;
  std::atomic<bool> cancelled{false};
};

Decoder awaitDecoder(Recognition& recognition) {
  ModelLoad& load = *recognition.load;
  std::unique_lock lock(load.mutex);
  while (!load.done) {
    if (recognition.cancelled) return nullptr;
    load.ready.wait_for(lock, kIdleWait);
  }
  return load.decoder;
}

void report(Recognition& recognition, std::string text, bool isFinal) {
  recognition.handler(RecognitionResult{{std::move(text)}, isFinal}, std::nullopt);
}

void fail(Recognition& recognition, std::string description) {
  if (!recognition.cancelled) recognition.handler(std::nullopt, Error{std::move(description)});
}

std::string hypothesis(ps_decoder_t* decoder) {
  const char* text = ps_get_hyp(decoder, nullptr);
  return text ? text : "";
}

// The task's worker: decodes what the request collects, reports each new hypothesis, and after
// the end of audio decodes the rest and reports the final result.
void decode(std::shared_ptr<Recognition> recognition) {
  Decoder decoder = awaitDecoder(*recognition);
  if (recognition->cancelled) return;
  if (!decoder) return fail(*recognition, "The speech model could not be loaded.");
  if (ps_start_utt(decoder.get()) < 0) return fail(*recognition, "Recognition could not start.");
  std::vector<int16_t> chunk(kDecodeSamples);
  std::string reported;
  SphinxRequest& request = *recognition->request;
  for (;;) {
    if (recognition->cancelled) return;
    // Read before taking samples, so that every sample appended before the end is taken.
    bool ended = request.audioEnded.load(std::memory_order_acquire);
    std::size_t count = request.ring.pop(chunk.data(), chunk.size());
    if (count > 0) {
      if (ps_process_raw(decoder.get(), chunk.data(), count, FALSE, FALSE) < 0) {
        return fail(*recognition, "Recognition failed while decoding audio.");
      }
      std::string text = hypothesis(decoder.get());
      if (text != reported && !recognition->cancelled) {
        reported = text;
        report(*recognition, text, false);
      }
      continue;
    }
    if (ended) break;
    std::this_thread::sleep_for(kIdleWait);
  }
  if (ps_end_utt(decoder.get()) < 0) return fail(*recognition, "Recognition could not finish.");
  if (!recognition->cancelled) report(*recognition, hypothesis(decoder.get()), true);
}

class SphinxTask final : public RecognitionTask {
 public:
  explicit SphinxTask(std::shared_ptr<Recognition> recognition)
      : recognition(std::move(recognition)) {}
  // The worker sees this before its next step and stops without another call of the handler.
  void cancel() override { recognition->cancelled = true; }

 private:
  std::shared_ptr<Recognition> recognition;
};

class SphinxRecognizer final : public SpeechRecognizer {
 public:
  explicit SphinxRecognizer(ModelFiles model) : model(std::move(model)) {
    if (this->model.readable()) preload = ModelLoad::start(this->model);
  }

  bool isAvailable() override { return model.readable(); }
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
  std::shared_ptr<ModelLoad> preload;
};

}  // namespace

// The layout of Debian's pocketsphinx models.
ModelFiles ModelFiles::in(const std::string& folder) {
  return {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
}

bool ModelFiles::readable() const {
  for (const char* file : {"mdef", "means", "variances", "transition_matrices", "sendump",
                           "feat.params", "noisedict"}) {
    if (access((acousticModel + "/" + file).c_str(), R_OK) != 0) return false;
  }
  return access(languageModel.c_str(), R_OK) == 0 && access(dictionary.c_str(), R_OK) == 0;
}

std::shared_ptr<SpeechRecognizer> makeSphinxRecognizer(ModelFiles model) {
  return std::make_shared<SphinxRecognizer>(std::move(model));
}

std::shared_ptr<RecognitionRequest> makeSphinxRequest() {
  return std::make_shared<SphinxRequest>();
}

}  // namespace quillmate::linux_platform
