#include "platform/linux/rate_converter.h"

#include <speex/speex_resampler.h>

namespace quillmate::linux_platform {

void RateConverter::Destroy::operator()(SpeexResamplerState_* state) const {
  speex_resampler_destroy(state);
}

std::optional<RateConverter> RateConverter::make(uint32_t inputRate, std::size_t mostInput) {
  if (inputRate == kModelRate) return RateConverter(nullptr, mostInput);
  int error = RESAMPLER_ERR_SUCCESS;
  State state(
      speex_resampler_init(1, inputRate, kModelRate, SPEEX_RESAMPLER_QUALITY_DEFAULT, &error));
  if (!state || error != RESAMPLER_ERR_SUCCESS) return std::nullopt;
  return RateConverter(std::move(state), mostInput);
}

RateConverter::RateConverter(State state, std::size_t mostInput)
    : state(std::move(state)), output(mostInput * 2 + 64) {}

std::pair<const int16_t*, std::size_t> RateConverter::convert(const int16_t* input,
                                                              std::size_t count) {
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

}  // namespace quillmate::linux_platform
