// The audio thread's mix to 16-bit mono: channels averaged, full scale clamped, steps rounded.
#include "platform/linux/mix.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillmate::linux_platform {
namespace {

TEST(Mix, AveragesClampsAndRoundsEveryLayout) {
  const struct {
    const char* name;
    uint32_t channels;
    std::vector<float> floats;  // interleaved; used when `integers` is empty
    std::vector<int16_t> integers;
    std::vector<int16_t> mono;
  } cases[] = {
      {"mono int16 keeps its steps", 1, {}, {0, 1000, -1000, 1, -1}, {0, 1000, -1000, 1, -1}},
      // 16-bit full scale is 32768, the mix's 32767: the extremes land one step inside.
      {"mono int16 at full scale", 1, {}, {32767, -32768}, {32766, -32767}},
      {"mono float32", 1, {0.0f, 0.25f, -0.25f, 1.0f, -1.0f}, {}, {0, 8192, -8192, 32767, -32767}},
      {"mono float32 beyond full scale is clamped", 1, {1.5f, -3.0f}, {}, {32767, -32767}},
      {"stereo float32 is the average, not the sum",
       2,
       {0.5f, 0.5f, 1.0f, -1.0f, 0.6f, 0.2f},
       {},
       {16384, 0, 13107}},
      {"stereo float32 at full scale stays at full scale",
       2,
       {1.0f, 1.0f, -1.0f, -1.0f},
       {},
       {32767, -32767}},
      {"stereo int16 at full scale", 2, {}, {32767, 32767, -32768, -32768}, {32766, -32767}},
      {"three channels int16", 3, {}, {300, 600, 900, -3, 0, 0}, {600, -1}},
      {"eight channels float32, one loud", 8, {1, 0, 0, 0, 0, 0, 0, 0}, {}, {4096}},
      {"eight channels float32, all at full scale", 8, std::vector<float>(8, -1.0f), {}, {-32767}},
      {"eight channels int16", 8, {}, std::vector<int16_t>(8, 16384), {16384}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool integer = !c.integers.empty();
    std::size_t samples = integer ? c.integers.size() : c.floats.size();
    uint32_t frames = static_cast<uint32_t>(samples / c.channels);
    AudioPCMBuffer buffer{{48000, c.channels},
                          integer ? SampleType::int16 : SampleType::float32,
                          integer ? static_cast<const void*>(c.integers.data()) : c.floats.data(),
                          frames};
    std::vector<int16_t> mono(frames);
    mixToMono(buffer, 0, frames, mono.data());
    EXPECT_EQ(mono, c.mono);
    // From a later frame on, the same frames come out.
    if (frames > 1) {
      std::vector<int16_t> rest(frames - 1);
      mixToMono(buffer, 1, frames - 1, rest.data());
      EXPECT_EQ(rest, std::vector<int16_t>(c.mono.begin() + 1, c.mono.end()));
    }
  }
}

}  // namespace
}  // namespace quillmate::linux_platform
