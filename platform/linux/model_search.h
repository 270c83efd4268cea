// Where the speech model for a locale is found: model folders that a user or a distribution
// installs on the XDG data path, then Debian's US English model.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/model_files.h"

namespace quillmate::linux_platform {

struct ModelSearch {
  // Folders holding one model folder per tag ("fr-FR", "fr"), most preferred first.
  std::vector<std::string> roots;
  // Debian's pocketsphinx models (its `en-us` folder serves "en-US" and "en" only), searched
  // last.
  std::string debianModels;

  // The roots from the XDG Base Directory variables as `variable` reads them: first
  // $XDG_DATA_HOME (by default ~/.local/share), then each folder of $XDG_DATA_DIRS (by default
  // /usr/local/share and /usr/share), each followed by /quillmate-dictate/models. Relative and
  // empty entries are ignored.
  static ModelSearch fromEnvironment(const std::function<const char*(const char*)>& variable,
                                     std::string debianModels);

  // The model for a locale identifier: in each root in turn, the folder of its language and
  // region, then of its language alone; Debian's model last. The first folder that exists is
  // the model, broken or not: a folder installed for this locale that fails its checks makes
  // the recognizer unavailable rather than fall through to another language. None when no
  // folder exists, or the identifier is malformed.
  std::optional<ModelFiles> find(std::string_view identifier) const;
};

}  // namespace quillmate::linux_platform
