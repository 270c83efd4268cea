#include "platform/layers/input_format.h"

namespace quillmate::layers {

bool usable(const AudioFormat& format) {
  return format.sampleRate > 0.0 && format.channelCount != 0;
}

AudioFormat awaitUsableFormat(const std::function<AudioFormat()>& read,
                              std::chrono::milliseconds patience,
                              const std::function<void(std::chrono::milliseconds)>& sleep) {
  AudioFormat format = read();
  for (auto waited = std::chrono::milliseconds{0}; !usable(format) && waited < patience;
       waited += kFormatPoll) {
    sleep(kFormatPoll);
    format = read();
  }
  return format;
}

}  // namespace quillmate::layers
