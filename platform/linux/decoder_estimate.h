// The decoder's live channel estimate, read and set through the library's public interface.
#pragma once

#include <cstddef>

#include "platform/linux/channel_estimate.h"

struct ps_decoder_s;

namespace quillmate::linux_platform {

// How many values the decoder's estimate has; 0 when it keeps none (no cepstral mean
// normalisation).
std::size_t estimateLength(ps_decoder_s* decoder);
// The estimate as the decoder now has it, folding in the frames since the last utterance's end.
Estimate liveEstimate(ps_decoder_s* decoder);
// Sets the estimate in force from the next frame on; false if its length does not match.
bool applyEstimate(ps_decoder_s* decoder, const Estimate& estimate);

}  // namespace quillmate::linux_platform
