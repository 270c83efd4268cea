#include "platform/linux/mix.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quillmate::linux_platform {

void mixToMono(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames, int16_t* mono) {
  const uint32_t channels = buffer.format.channelCount;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    float sum = 0.0f;
    std::size_t at = (std::size_t{first} + frame) * channels;
    for (uint32_t channel = 0; channel < channels; ++channel) {
      sum += buffer.sampleType == SampleType::float32
                 ? static_cast<const float*>(buffer.data)[at + channel]
                 : static_cast<const int16_t*>(buffer.data)[at + channel] / 32768.0f;
    }
    float clamped = std::clamp(sum / static_cast<float>(channels), -1.0f, 1.0f);
    mono[frame] = static_cast<int16_t>(std::lround(clamped * 32767.0f));
  }
}

}  // namespace quillmate::linux_platform
