// A dictation decoded as a run of utterances, split where the speaker pauses. Each utterance that
// a pause closes gets the decoder's full search, and its words are committed; what the host sees
// is the committed words followed by the open utterance's current hypothesis.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmate::linux_platform {

class Utterances {
 public:
  struct Limits {
    // Speech (in samples) after which an utterance is closed even without a pause, so that no
    // single full search takes long enough to hold the decoder far behind capture.
    uint64_t longestUtterance;
    // The longest open utterance (in samples of speech) that still gets the full search when
    // audio ends; a longer one keeps its first-pass hypothesis, so the final result comes
    // quickly however long the dictation was.
    uint64_t longestFullSearchAtEnd;
  };

  explicit Utterances(Limits limits) : limits(limits) {}

  // After the decoder took `samples` more samples: whether its voice-activity detector is in
  // speech now. True when the open utterance should be closed: speech was heard and a pause
  // followed it, or it has grown to the longest utterance.
  bool closes(bool inSpeech, uint64_t samples);
  // When audio ends: whether the open utterance gets the full search.
  bool fullSearchAtEnd() const;
  // Closes the open utterance with its final words; the next utterance starts empty.
  void commit(std::string_view words);
  // The committed words followed by `open`, the open utterance's hypothesis.
  std::string transcript(std::string_view open) const;

 private:
  const Limits limits;
  std::string committed;
  bool heardSpeech = false;    // in the open utterance
  uint64_t speechSamples = 0;  // in the open utterance, from its first speech on
};

}  // namespace quillmate::linux_platform
