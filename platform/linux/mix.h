// What the audio thread hands the decoder: captured audio of any channel count as 16-bit mono.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace quillmate::linux_platform {

// Mixes `frames` frames of the interleaved `buffer`, from frame `first` on, into `mono`: the
// average of the channels (a sum would clip loud input), clamped to full scale and rounded to
// the nearest 16-bit step. 16-bit input counts 32768 as full scale. No allocation, no lock.
void mixToMono(const AudioPCMBuffer& buffer, uint32_t first, uint32_t frames, int16_t* mono);

}  // namespace quillmate::linux_platform
