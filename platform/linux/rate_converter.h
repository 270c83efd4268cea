// Turns the captured rate into the model's 16 kHz, on the decoder's thread.
#pragma once

#include <speex/speex_resampler.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quillmate::linux_platform {

class RateConverter {
 public:
  // `mostInput`: the most samples one call converts without growing its buffers.
  RateConverter(uint32_t inputRate, std::size_t mostInput);

  // The 16 kHz samples for `count` input samples; valid until the next call.
  std::pair<const int16_t*, std::size_t> convert(const int16_t* input, std::size_t count);

 private:
  int error = 0;
  std::unique_ptr<SpeexResamplerState, void (*)(SpeexResamplerState*)> state;
  std::vector<int16_t> output;
  std::vector<int16_t> converted;
};

}  // namespace quillmate::linux_platform
