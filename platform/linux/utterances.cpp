#include "platform/linux/utterances.h"

namespace quillmate::linux_platform {

bool Utterances::closes(bool inSpeech, uint64_t samples) {
  if (inSpeech) {
    heardSpeech = true;
    speechSamples += samples;
    return speechSamples >= limits.longestUtterance;
  }
  // The detector leaves speech only after a pause of its own length, so this is a pause.
  return heardSpeech;
}

bool Utterances::fullSearchAtEnd() const {
  return heardSpeech && speechSamples <= limits.longestFullSearchAtEnd;
}

void Utterances::commit(std::string_view words) {
  committed = transcript(words);
  heardSpeech = false;
  speechSamples = 0;
}

std::string Utterances::transcript(std::string_view open) const {
  std::string text = committed;
  if (!text.empty() && !open.empty()) text += ' ';
  text += open;
  return text;
}

}  // namespace quillmate::linux_platform
