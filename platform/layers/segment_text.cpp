#include "platform/layers/segment_text.h"

#include "platform/layers/transcript_join.h"

namespace quillmate::layers {

void SegmentText::take(std::string_view transcript, bool closesUtterance) {
  // An empty result, partial or final, never removes words.
  if (!transcript.empty()) {
    if (!closed.empty() && transcript.starts_with(closed)) {
      // A recognizer that kept its text across the pause: what follows the closed words is the
      // open utterance, with the recognizer's own spacing.
      open = transcript.substr(closed.size());
    } else {
      open = transcript;
    }
  }
  if (closesUtterance) {
    appendTranscript(closed, open);
    open.clear();
  }
}

std::string SegmentText::text() const {
  std::string joined = closed;
  appendTranscript(joined, open);
  return joined;
}

}  // namespace quillmate::layers
