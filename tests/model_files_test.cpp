// Which acoustic-model folders the decoder's library can be given: every layout it loads, and
// none that would make it end the process.
#include "platform/linux/model_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quillmate::linux_platform {
namespace {

namespace fs = std::filesystem;

// How each name of a layout is there: a file, a folder in its place, or a link to nowhere.
enum class As { file, folder, danglingLink };

struct Layout {
  const char* name;
  std::vector<std::pair<std::string, As>> entries;
  bool readable;
};

std::vector<std::pair<std::string, As>> files(std::vector<std::string> names) {
  std::vector<std::pair<std::string, As>> entries;
  for (auto& name : names) entries.emplace_back(std::move(name), As::file);
  return entries;
}

std::vector<std::pair<std::string, As>> with(std::vector<std::pair<std::string, As>> entries,
                                             std::string name, As as) {
  entries.emplace_back(std::move(name), as);
  return entries;
}

TEST(ModelFiles, AcceptsEveryAcousticModelLayoutTheLibraryLoads) {
  const auto core = files({"mdef", "means", "variances", "transition_matrices"});
  const auto debian = files(
      {"mdef", "means", "variances", "transition_matrices", "sendump", "feat.params", "noisedict"});
  const Layout layouts[] = {
      {"Debian's", debian, true},
      {"mixture_weights instead of sendump", with(core, "mixture_weights", As::file), true},
      {"both sources of mixture weights",
       with(with(core, "sendump", As::file), "mixture_weights", As::file), true},
      {"no feat.params or noisedict", with(core, "sendump", As::file), true},
      {"every optional file",
       with(with(debian, "feature_transform", As::file), "mixture_weights", As::file), true},
      {"senmgau beside mixture_weights",
       with(with(core, "mixture_weights", As::file), "senmgau", As::file), true},
      {"neither sendump nor mixture_weights", core, false},
      {"mdef missing", files({"means", "variances", "transition_matrices", "sendump"}), false},
      {"means missing", files({"mdef", "variances", "transition_matrices", "sendump"}), false},
      {"variances missing", files({"mdef", "means", "transition_matrices", "sendump"}), false},
      {"transition_matrices missing", files({"mdef", "means", "variances", "sendump"}), false},
      {"a required file that is a folder",
       with(files({"means", "variances", "transition_matrices", "sendump"}), "mdef", As::folder),
       false},
      {"noisedict a folder", with(with(core, "sendump", As::file), "noisedict", As::folder), false},
      {"feat.params a folder", with(with(core, "sendump", As::file), "feat.params", As::folder),
       false},
      {"feature_transform a folder",
       with(with(core, "sendump", As::file), "feature_transform", As::folder), false},
      {"senmgau a folder", with(with(core, "mixture_weights", As::file), "senmgau", As::folder),
       false},
      {"an optional file that is a link to nowhere",
       with(with(core, "sendump", As::file), "noisedict", As::danglingLink), false},
      {"sendump a folder beside good mixture weights",
       with(with(core, "mixture_weights", As::file), "sendump", As::folder), false},
      {"senmgau without mixture_weights, which it alone reads",
       with(with(core, "sendump", As::file), "senmgau", As::file), false},
  };
  const fs::path base =
      fs::path(::testing::TempDir()) / ("model-files-" + std::to_string(getpid()));
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    fs::remove_all(base);
    fs::create_directories(base);
    for (const auto& [name, as] : layout.entries) {
      if (as == As::file) std::ofstream(base / name) << "x";
      if (as == As::folder) fs::create_directory(base / name);
      if (as == As::danglingLink) fs::create_symlink(base / "nowhere", base / name);
    }
    EXPECT_EQ(acousticModelReadable(base.string()), layout.readable);
  }
  fs::remove_all(base);
}

}  // namespace
}  // namespace quillmate::linux_platform
