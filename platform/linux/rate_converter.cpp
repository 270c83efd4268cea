#include "platform/linux/rate_converter.h"

#include "platform/linux/sphinx_request.h"

namespace quillmate::linux_platform {

RateConverter::RateConverter(uint32_t inputRate, std::size_t mostInput)
    : state(inputRate == kModelRate ? nullptr
                                    : speex_resampler_init(1, inputRate, kModelRate,
                                                           SPEEX_RESAMPLER_QUALITY_DEFAULT, &error),
            speex_resampler_destroy),
      output(mostInput * 2 + 64) {}

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
