// The decoder's estimate of the microphone's channel (its cepstral mean), kept from one
// dictation to the next.
//
// Each process would otherwise start from the mean that the acoustic model ships, and the
// decoder's live estimate only moves to the real microphone at the end of an utterance: every
// short dictation would be decoded as if through an unknown microphone. This is the recognizer's
// own adaptation, kept the way a recognizer keeps it, not a setting: a damaged, foreign or
// missing file is ignored in silence, and a folder that cannot be written only means that
// nothing is kept.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/model_files.h"

namespace quillmate::linux_platform {

using Estimate = std::vector<float>;

// A kept file is at most this long; anything longer is not one of ours.
inline constexpr std::size_t kMostEstimateBytes = 4096;
// No cepstral mean of real audio comes near this, whatever the microphone or its gain.
inline constexpr float kMostEstimateMagnitude = 200.0f;

// The folder for kept state, as the XDG Base Directory rules give it through `variable`:
// $XDG_STATE_HOME/quillmate-dictate, by default ~/.local/state/quillmate-dictate. A relative or
// empty variable is ignored; none when neither gives an absolute folder.
std::optional<std::string> stateFolder(const std::function<const char*(const char*)>& variable);

// What identifies an acoustic model's features: its folder and the size and time of the files
// that define them. A model replaced in place gets another key.
std::string modelKey(const ModelFiles& model);

// The text of a kept estimate, and back. Parsing gives nothing for text that is not exactly
// what `formatEstimate` writes for `key`, with `length` finite values of sane magnitude.
std::string formatEstimate(std::string_view key, const Estimate& estimate);
std::optional<Estimate> parseEstimate(std::string_view text, std::string_view key,
                                      std::size_t length);

// The kept estimate of one model, in one folder.
class EstimateStore {
 public:
  EstimateStore(std::string folder, std::string key);

  // The kept estimate, if there is a valid one of `length` values for this model.
  std::optional<Estimate> read(std::size_t length) const;
  // Replaces the kept estimate in one step: a temporary file in the folder, then a rename, so
  // that two helpers that end together leave one whole file. The folder is made 0700 and the
  // file 0600; no link is followed. False when nothing could be kept.
  bool write(const Estimate& estimate) const;

  std::string path() const;

 private:
  std::string folder;
  std::string key;
};

// Keeps the process from exiting for up to half a second while a write is under way, so that
// the estimate, written after the final line, is not cut off by the exit that follows it. Made
// before the final result is reported, so that the exit cannot have looked already.
class ExitWaitsForWrite {
 public:
  ExitWaitsForWrite();
  ~ExitWaitsForWrite();
  ExitWaitsForWrite(const ExitWaitsForWrite&) = delete;
  ExitWaitsForWrite& operator=(const ExitWaitsForWrite&) = delete;
};

}  // namespace quillmate::linux_platform
