// Turns the captured rate into the model's 16 kHz, on the decoder's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct SpeexResamplerState_;

namespace quillmate::linux_platform {

// The model's rate.
inline constexpr uint32_t kModelRate = 16000;

class RateConverter {
 public:
  // `mostInput`: the most samples one call converts without growing its buffers. None when the
  // resampler cannot start (it could not allocate its filter): audio must then not be decoded
  // at all, since taken as it is it would be decoded at the wrong speed.
  static std::optional<RateConverter> make(uint32_t inputRate, std::size_t mostInput);

  // The 16 kHz samples for `count` input samples; valid until the next call.
  std::pair<const int16_t*, std::size_t> convert(const int16_t* input, std::size_t count);

 private:
  struct Destroy {
    void operator()(SpeexResamplerState_* state) const;
  };
  using State = std::unique_ptr<SpeexResamplerState_, Destroy>;

  RateConverter(State state, std::size_t mostInput);

  State state;  // none when the input is already at the model's rate
  std::vector<int16_t> output;
  std::vector<int16_t> converted;
};

}  // namespace quillmate::linux_platform
