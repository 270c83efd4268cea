// A long continuous dictation through the Linux recognizer, with no audio server in between:
// the recordings named on the command line, back to back, appended as a 48 kHz stereo capture
// appends them, at real-time pace, and the end of audio the moment the speech ends. With
// --busy N, N threads spin beside it the whole time, as other programs would on a busy machine.
// With --state DIR, the recognizer starts from the channel estimate kept in DIR and keeps its
// own there at the end, as the helper does in its state folder; without it, nothing is kept.
// Prints one JSON object: how far the decoder was behind capture when audio ended, how long
// the final result took after that, the CPU seconds the recognizer and the feed took (model load
// included, the spinners and the preparation of the audio not), and the final transcript.
#include <samplerate.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sphinx_recognizer.h"

using namespace quillmate;
using namespace quillmate::linux_platform;
using Clock = std::chrono::steady_clock;

namespace {

// 16 kHz mono 16-bit samples of a raw file, or of a WAV file's data chunk.
std::vector<float> samples(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  std::size_t start = 0;
  if (bytes.size() > 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0) {
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
      uint32_t size;
      std::memcpy(&size, bytes.data() + at + 4, 4);
      if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
        start = at + 8;
        break;
      }
      at += 8 + size;
    }
  }
  std::vector<float> mono;
  for (std::size_t at = start; at + 1 < bytes.size(); at += 2) {
    int16_t value;
    std::memcpy(&value, bytes.data() + at, 2);
    mono.push_back(value / 32768.0f);
  }
  return mono;
}

std::vector<float> capture(const std::vector<float>& mono) {
  std::vector<float> high(mono.size() * 3 + 64);
  SRC_DATA data{};
  data.data_in = mono.data();
  data.input_frames = static_cast<long>(mono.size());
  data.data_out = high.data();
  data.output_frames = static_cast<long>(high.size());
  data.src_ratio = 3.0;
  src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
  high.resize(static_cast<std::size_t>(data.output_frames_gen));
  std::vector<float> stereo;
  for (float sample : high) stereo.insert(stereo.end(), {sample, sample});
  return stereo;
}

double seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

// CPU seconds of the whole process so far.
double processSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds of the calling thread so far.
double threadSeconds() {
  timespec time{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
  return time.tv_sec + time.tv_nsec / 1e9;
}

// What the command line asks for.
struct Options {
  int busy = 0;
  bool asRecorded = false;  // 16 kHz mono, as the model takes it, instead of 48 kHz stereo
  std::vector<float> mono;  // the recordings back to back
  std::optional<std::string> stateFolder;  // keep the channel estimate there, as the helper does
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--as-recorded") == 0) {
      options.asRecorded = true;
    } else if (std::strcmp(argv[i], "--busy") == 0 && i + 1 < argc) {
      options.busy = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
      options.stateFolder = argv[++i];
    } else {
      auto more = samples(argv[i]);
      options.mono.insert(options.mono.end(), more.begin(), more.end());
    }
  }
  return options;
}

// Threads that spin as other programs would on a busy machine, and the CPU time they took, so
// that it can be left out of the recognizer's.
class Spinners {
 public:
  explicit Spinners(int count) : spun(count) {
    for (int i = 0; i < count; ++i) {
      threads.emplace_back([this, i] {
        volatile uint64_t spins = 0;
        while (!stop.load(std::memory_order_relaxed)) spins = spins + 1;
        spun[i] = threadSeconds();
      });
    }
  }

  // Stops them; gives the CPU seconds they spent.
  double join() {
    stop = true;
    for (auto& thread : threads) thread.join();
    return std::accumulate(spun.begin(), spun.end(), 0.0);
  }

 private:
  std::atomic<bool> stop{false};
  std::vector<double> spun;
  std::vector<std::thread> threads;
};

// The final result or error, and when it came.
struct Final {
  std::mutex mutex;
  std::condition_variable arrived;
  std::optional<std::string> text;
  std::optional<Clock::time_point> at;

  ResultHandler handler() {
    return [this](std::optional<RecognitionResult> result, std::optional<Error> error) {
      std::lock_guard lock(mutex);
      if (error) text = "error: " + error->localizedDescription;
      if (result && result->isFinal) text = result->bestTranscription.formattedString;
      if (text && !at) at = Clock::now();
      arrived.notify_all();
    };
  }

  void wait() {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(120), [&] { return text.has_value(); });
  }
};

// Appends `audio` in 1024-frame buffers at real-time pace, as a capture's tap does.
void appendAtPace(RecognitionRequest& request, const std::vector<float>& audio, double rate,
                  uint32_t channels) {
  constexpr uint32_t kFrames = 1024;
  const auto period = std::chrono::duration<double>(kFrames / rate);
  const Clock::time_point started = Clock::now();
  std::size_t buffers = 0;
  const std::size_t frameCount = audio.size() / channels;
  for (std::size_t frame = 0; frame < frameCount; frame += kFrames, ++buffers) {
    std::this_thread::sleep_until(started +
                                  std::chrono::duration_cast<Clock::duration>(buffers * period));
    uint32_t frames = static_cast<uint32_t>(std::min<std::size_t>(kFrames, frameCount - frame));
    request.appendAudioPCMBuffer(AudioPCMBuffer{
        {rate, channels}, SampleType::float32, audio.data() + channels * frame, frames});
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  const double rate = options.asRecorded ? 16000.0 : 48000.0;
  const uint32_t channels = options.asRecorded ? 1 : 2;
  const std::vector<float> audio = options.asRecorded ? options.mono : capture(options.mono);

  const double preparedSeconds = processSeconds();  // reading and resampling the recordings
  Spinners spinners(options.busy);
  Final final;
  auto recognizer = makeSphinxRecognizer(
      ModelFiles::debianLayout(std::string(QUILLMATE_MODEL_ROOT) + "/en-us"), options.stateFolder);
  auto request = makeSphinxRequest();
  auto task = recognizer->recognitionTask(request, final.handler());
  appendAtPace(*request, audio, rate, channels);
  const double backlog = request->undecodedSeconds();
  const Clock::time_point ended = Clock::now();
  request->endAudio();
  final.wait();
  const double spun = spinners.join();
  std::lock_guard lock(final.mutex);
  nlohmann::json report = {
      {"busy", options.busy},
      {"seconds", options.mono.size() / 16000.0},
      {"backlog", backlog},
      {"finalMs",
       final.at ? std::chrono::duration<double, std::milli>(*final.at - ended).count() : -1.0},
      {"cpu", processSeconds() - preparedSeconds - spun},
      {"transcript", final.text.value_or("")}};
  std::puts(report.dump().c_str());
  task->cancel();
  return final.text ? 0 : 1;
}
