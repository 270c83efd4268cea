// The files of one speech model, where each layout keeps them, and whether the decoder's
// library can be given them.
#pragma once

#include <optional>
#include <string>

namespace quillmate::linux_platform {

struct ModelFiles {
  std::string acousticModel;  // a folder
  std::string languageModel;
  std::string dictionary;

  // The layout of Debian's pocketsphinx models: `en-us/`, `en-us.lm.bin` and
  // `cmudict-en-us.dict` in one folder.
  static ModelFiles debianLayout(const std::string& folder);
  // The layout of a model folder installed for the helper: `acoustic-model/`, a binary
  // `language-model.lm.bin` or else a text ARPA `language-model.lm`, and `dictionary.dict`.
  static ModelFiles installedLayout(const std::string& folder);

  // The first reason the decoder's library cannot be given these files, naming the file, or
  // none. Every file the decoder will read must be a readable regular file (after links are
  // followed): the acoustic model's required files, at least one source of mixture weights,
  // each optional file that is present, the language model and the dictionary; and the
  // language model must be whole.
  std::optional<std::string> firstProblem() const;
  bool readable() const { return !firstProblem(); }
  // The language model is not cut short: a binary one ends with its vocabulary's last NUL, a
  // text (ARPA) one runs from "\data\" to "\end\". Reads a few kilobytes at most.
  bool languageModelIsWhole() const;
};

// Which files of an acoustic model folder the decoder reads. The library takes each file from
// the folder when a file of that name is there: the four below always; its mixture weights from
// `sendump` when present, else from `mixture_weights`; and the optional ones only when present.
// The general multi-stream computation that `senmgau` selects reads only `mixture_weights`.
// Gives the first reason the folder cannot be loaded, naming the file, or none.
std::optional<std::string> acousticModelProblem(const std::string& folder);

// Anything at the path, even a link that leads nowhere: the user put it there to be used.
bool pathPresent(const std::string& path);

}  // namespace quillmate::linux_platform
