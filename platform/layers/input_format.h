// Reading an input's format that may not be ready yet.
#pragma once

#include <chrono>
#include <functional>

#include "platform/platform.h"

namespace quillmate::layers {

// How often a format that is not ready yet is read again.
inline constexpr std::chrono::milliseconds kFormatPoll{50};

// Whether capture can run with `format`; a NaN sample rate is not usable.
bool usable(const AudioFormat& format);

// Reads the format, and while it is not usable reads it again every kFormatPoll until
// `patience` has passed. Right after the user first grants the microphone, the input can report
// 0 Hz for a moment before the hardware is ready. Gives the last format read.
AudioFormat awaitUsableFormat(const std::function<AudioFormat()>& read,
                              std::chrono::milliseconds patience,
                              const std::function<void(std::chrono::milliseconds)>& sleep);

}  // namespace quillmate::layers
