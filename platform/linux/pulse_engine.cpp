#include "platform/linux/pulse_engine.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillmate::linux_platform {
namespace {

// How long the session's thread waits for the audio server before giving up on it: a server
// that hangs must not wedge the helper.
constexpr pa_usec_t kServerTimeout = 2 * PA_USEC_PER_SEC;

}  // namespace

// The threaded main loop and the context, released in the right order.
struct PulseEngine::Loop {
  pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
  pa_context* context = nullptr;
  bool timedOut = false;

  ~Loop() {
    if (!mainloop) return;
    pa_threaded_mainloop_stop(mainloop);
    if (context) {
      pa_context_disconnect(context);
      pa_context_unref(context);
    }
    pa_threaded_mainloop_free(mainloop);
  }

  static void signal(void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
  }

  // With the lock held: waits until `done` holds, or gives false once the server has taken
  // longer than kServerTimeout.
  template <typename Done>
  bool waitFor(Done done) {
    timedOut = false;
    pa_time_event* timer =
        context ? pa_context_rttime_new(
                      context, pa_rtclock_now() + kServerTimeout,
                      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
                        auto* loop = static_cast<Loop*>(self);
                        loop->timedOut = true;
                        signal(loop->mainloop);
                      },
                      this)
                : nullptr;
    while (!done() && !timedOut) pa_threaded_mainloop_wait(mainloop);
    if (timer) api()->time_free(timer);
    return !timedOut;
  }

  void waitFor(pa_operation* operation) {
    if (!operation) return;
    waitFor([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }

  pa_mainloop_api* api() { return pa_threaded_mainloop_get_api(mainloop); }
};

PulseEngine::PulseEngine() = default;

PulseEngine::~PulseEngine() {
  stop();
  loop.reset();
}

std::optional<Error> PulseEngine::connect() {
  if (loop && loop->context && pa_context_get_state(loop->context) == PA_CONTEXT_READY) {
    return std::nullopt;
  }
  // A server that went away leaves a dead connection; a stream on it goes first.
  if (loop && stream) stop();
  loop = std::make_unique<Loop>();
  if (!loop->mainloop || pa_threaded_mainloop_start(loop->mainloop) < 0) {
    return Error{pa_strerror(PA_ERR_INTERNAL)};
  }
  pa_threaded_mainloop_lock(loop->mainloop);
  loop->context = pa_context_new(loop->api(), "quillmate-dictate");
  pa_context_set_state_callback(
      loop->context, [](pa_context*, void* mainloop) { Loop::signal(mainloop); }, loop->mainloop);
  std::optional<Error> failure;
  if (pa_context_connect(loop->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    failure = Error{pa_strerror(pa_context_errno(loop->context))};
  } else {
    bool answered = loop->waitFor([this] {
      pa_context_state_t state = pa_context_get_state(loop->context);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!answered) {
      failure = Error{pa_strerror(PA_ERR_TIMEOUT)};
    } else if (pa_context_get_state(loop->context) != PA_CONTEXT_READY) {
      failure = Error{pa_strerror(pa_context_errno(loop->context))};
    }
  }
  pa_threaded_mainloop_unlock(loop->mainloop);
  return failure;
}

AudioFormat PulseEngine::outputFormat(int) {
  if (connect()) return {};
  pa_threaded_mainloop_lock(loop->mainloop);
  sourceName.clear();
  sourceFormat = {};
  loop->waitFor(pa_context_get_server_info(
      loop->context,
      [](pa_context*, const pa_server_info* info, void* self) {
        auto* engine = static_cast<PulseEngine*>(self);
        if (info && info->default_source_name) engine->sourceName = info->default_source_name;
        Loop::signal(engine->loop->mainloop);
      },
      this));
  if (!sourceName.empty()) {
    loop->waitFor(pa_context_get_source_info_by_name(
        loop->context, sourceName.c_str(),
        [](pa_context*, const pa_source_info* info, int, void* self) {
          auto* engine = static_cast<PulseEngine*>(self);
          if (info)
            engine->sourceFormat = {double(info->sample_spec.rate), info->sample_spec.channels};
          Loop::signal(engine->loop->mainloop);
        },
        this));
  }
  AudioFormat format = sourceFormat;
  pa_threaded_mainloop_unlock(loop->mainloop);
  return format;
}

void PulseEngine::installTap(int, uint32_t bufferSize, AudioFormat format, TapBlock block) {
  if (loop) pa_threaded_mainloop_lock(loop->mainloop);
  tap = std::move(block);
  tapFormat = format;
  tapFrames = std::max<uint32_t>(bufferSize, 1);
  if (loop) pa_threaded_mainloop_unlock(loop->mainloop);
}

void PulseEngine::removeTap(int) {
  // Under the loop's lock: once this returns, no call of the old tap is still running.
  if (loop) pa_threaded_mainloop_lock(loop->mainloop);
  tap = nullptr;
  if (loop) pa_threaded_mainloop_unlock(loop->mainloop);
}

std::optional<Error> PulseEngine::start(CaptureEnded ended) {
  if (auto failure = connect()) return failure;
  AudioFormat format = tapFormat.channelCount ? tapFormat : sourceFormat;
  pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(format.sampleRate),
                      static_cast<uint8_t>(std::min<uint32_t>(format.channelCount, 255))};
  if (!pa_sample_spec_valid(&spec)) return Error{pa_strerror(PA_ERR_INVALID)};
  pa_threaded_mainloop_lock(loop->mainloop);
  if (stream) {
    captureEnded = std::move(ended);
    pa_threaded_mainloop_unlock(loop->mainloop);
    return std::nullopt;
  }
  pending.assign(std::size_t{tapFrames} * spec.channels, 0.0f);
  pendingFrames = 0;
  stream = pa_stream_new(loop->context, "Dictation", &spec, nullptr);
  std::optional<Error> failure;
  if (!stream) {
    failure = Error{pa_strerror(pa_context_errno(loop->context))};
  } else {
    pa_stream_set_state_callback(stream, onStreamState, this);
    pa_stream_set_read_callback(stream, onRead, this);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    attributes.fragsize = static_cast<uint32_t>(tapFrames * pa_frame_size(&spec));
    const char* source = sourceName.empty() ? nullptr : sourceName.c_str();
    if (pa_stream_connect_record(stream, source, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
      failure = Error{pa_strerror(pa_context_errno(loop->context))};
    } else if (!loop->waitFor([this] {
                 pa_stream_state_t state = pa_stream_get_state(stream);
                 return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
               })) {
      failure = Error{pa_strerror(PA_ERR_TIMEOUT)};
    } else if (pa_stream_get_state(stream) != PA_STREAM_READY) {
      failure = Error{pa_strerror(pa_context_errno(loop->context))};
    }
  }
  if (failure) {
    disconnectStream();
  } else {
    captureEnded = std::move(ended);
  }
  pa_threaded_mainloop_unlock(loop->mainloop);
  return failure;
}

void PulseEngine::stop() {
  if (!loop) return;
  pa_threaded_mainloop_lock(loop->mainloop);
  disconnectStream();
  pa_threaded_mainloop_unlock(loop->mainloop);
}

void PulseEngine::disconnectStream() {
  captureEnded = nullptr;
  if (!stream) return;
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

// On the loop's thread, with its lock held. A stream that fails or ends without our asking (the
// server died, the source was removed) is capture that ended by itself; the session hears of it
// once. Streams we disconnect ourselves lose this callback first.
void PulseEngine::onStreamState(pa_stream* stream, void* self) {
  auto* engine = static_cast<PulseEngine*>(self);
  Loop::signal(engine->loop->mainloop);
  pa_stream_state_t state = pa_stream_get_state(stream);
  if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
  if (CaptureEnded ended = std::exchange(engine->captureEnded, nullptr)) ended(CaptureEnd{});
}

void PulseEngine::onRead(pa_stream* stream, std::size_t, void* self) {
  auto* engine = static_cast<PulseEngine*>(self);
  const std::size_t frameBytes = pa_frame_size(pa_stream_get_sample_spec(stream));
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (no data) is audio the server lost; there is nothing to hand on for it.
    if (data) engine->deliver(static_cast<const float*>(data), bytes / frameBytes);
    pa_stream_drop(stream);
  }
}

void PulseEngine::deliver(const float* frames, std::size_t count) {
  const std::size_t channels = pending.size() / tapFrames;
  while (count > 0) {
    std::size_t taken = std::min<std::size_t>(count, tapFrames - pendingFrames);
    std::copy_n(frames, taken * channels, pending.data() + pendingFrames * channels);
    pendingFrames += taken;
    frames += taken * channels;
    count -= taken;
    if (pendingFrames == tapFrames) {
      if (tap) {
        AudioFormat format{tapFormat.sampleRate, static_cast<uint32_t>(channels)};
        tap(AudioPCMBuffer{format, SampleType::float32, pending.data(), tapFrames},
            AudioTime{sampleTime});
      }
      sampleTime += tapFrames;
      pendingFrames = 0;
    }
  }
}

}  // namespace quillmate::linux_platform
