#include "platform/linux/model_search.h"

#include "platform/linux/locale_model.h"

namespace quillmate::linux_platform {
namespace {

constexpr std::string_view kModelsUnder = "/quillmate-dictate/models";

bool absolute(const char* path) { return path && path[0] == '/'; }

}  // namespace

ModelSearch ModelSearch::fromEnvironment(const std::function<const char*(const char*)>& variable,
                                         std::string debianModels) {
  ModelSearch search;
  search.debianModels = std::move(debianModels);
  const char* dataHome = variable("XDG_DATA_HOME");
  const char* home = variable("HOME");
  if (absolute(dataHome)) {
    search.roots.push_back(std::string(dataHome) + std::string(kModelsUnder));
  } else if (absolute(home)) {
    search.roots.push_back(std::string(home) + "/.local/share" + std::string(kModelsUnder));
  }
  const char* dataDirs = variable("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    std::size_t end = dirs.find(':');
    std::string dir(dirs.substr(0, end));
    dirs.remove_prefix(end == std::string_view::npos ? dirs.size() : end + 1);
    if (absolute(dir.c_str())) search.roots.push_back(dir + std::string(kModelsUnder));
  }
  return search;
}

std::optional<ModelFiles> ModelSearch::find(std::string_view identifier) const {
  const std::vector<std::string> tags = modelTagsFor(identifier);
  for (const std::string& root : roots) {
    for (const std::string& tag : tags) {
      std::string folder = root + "/" + tag;
      if (pathPresent(folder)) return ModelFiles::installedLayout(folder);
    }
  }
  // Debian's model serves US English, and English with no region named; another region's
  // English needs a model of its own.
  if (!tags.empty() && (tags.front() == "en-US" || tags.front() == "en")) {
    return ModelFiles::debianLayout(debianModels + "/en-us");
  }
  return std::nullopt;
}

}  // namespace quillmate::linux_platform
