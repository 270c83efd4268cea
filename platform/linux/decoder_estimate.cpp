#include "platform/linux/decoder_estimate.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

#include <vector>

namespace quillmate::linux_platform {
namespace {

cmn_t* channel(ps_decoder_t* decoder) {
  feat_t* features = ps_get_feat(decoder);
  return features ? features->cmn_struct : nullptr;
}

}  // namespace

std::size_t estimateLength(ps_decoder_t* decoder) {
  cmn_t* cmn = channel(decoder);
  return cmn && cmn->veclen > 0 ? static_cast<std::size_t>(cmn->veclen) : 0;
}

Estimate liveEstimate(ps_decoder_t* decoder) {
  std::size_t length = estimateLength(decoder);
  if (length == 0) return {};
  cmn_t* cmn = channel(decoder);
  // The estimate moves at each utterance's end; a dictation stopped mid-utterance has frames
  // that no end has folded in yet.
  cmn_live_update(cmn);
  std::vector<mfcc_t> values(length);
  cmn_live_get(cmn, values.data());
  Estimate estimate;
  for (mfcc_t value : values) estimate.push_back(MFCC2FLOAT(value));
  return estimate;
}

bool applyEstimate(ps_decoder_t* decoder, const Estimate& estimate) {
  std::size_t length = estimateLength(decoder);
  if (length == 0 || estimate.size() != length) return false;
  std::vector<mfcc_t> values;
  for (float value : estimate) values.push_back(FLOAT2MFCC(value));
  cmn_live_set(channel(decoder), values.data());
  return true;
}

}  // namespace quillmate::linux_platform
