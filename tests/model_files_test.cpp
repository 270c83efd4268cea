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
  const char* problem;  // the first reason it cannot be loaded; "" when it can
};

constexpr const char* kLoads = "";

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

TEST(ModelFiles, AcceptsEveryAcousticModelLayoutTheLibraryLoadsAndNamesWhyNot) {
  const auto core = files({"mdef", "means", "variances", "transition_matrices"});
  const auto debian = files(
      {"mdef", "means", "variances", "transition_matrices", "sendump", "feat.params", "noisedict"});
  const Layout layouts[] = {
      {"Debian's", debian, kLoads},
      {"mixture_weights instead of sendump", with(core, "mixture_weights", As::file), kLoads},
      {"both sources of mixture weights",
       with(with(core, "sendump", As::file), "mixture_weights", As::file), kLoads},
      {"no feat.params or noisedict", with(core, "sendump", As::file), kLoads},
      {"every optional file",
       with(with(debian, "feature_transform", As::file), "mixture_weights", As::file), kLoads},
      {"senmgau beside mixture_weights",
       with(with(core, "mixture_weights", As::file), "senmgau", As::file), kLoads},
      {"neither sendump nor mixture_weights", core, "neither sendump nor mixture_weights"},
      {"mdef missing", files({"means", "variances", "transition_matrices", "sendump"}),
       "mdef: not a readable file"},
      {"means missing", files({"mdef", "variances", "transition_matrices", "sendump"}),
       "means: not a readable file"},
      {"variances missing", files({"mdef", "means", "transition_matrices", "sendump"}),
       "variances: not a readable file"},
      {"transition_matrices missing", files({"mdef", "means", "variances", "sendump"}),
       "transition_matrices: not a readable file"},
      {"a required file that is a folder",
       with(files({"means", "variances", "transition_matrices", "sendump"}), "mdef", As::folder),
       "mdef: not a readable file"},
      {"noisedict a folder", with(with(core, "sendump", As::file), "noisedict", As::folder),
       "noisedict: not a readable file"},
      {"feat.params a folder", with(with(core, "sendump", As::file), "feat.params", As::folder),
       "feat.params: not a readable file"},
      {"feature_transform a folder",
       with(with(core, "sendump", As::file), "feature_transform", As::folder),
       "feature_transform: not a readable file"},
      {"senmgau a folder", with(with(core, "mixture_weights", As::file), "senmgau", As::folder),
       "senmgau: not a readable file"},
      {"an optional file that is a link to nowhere",
       with(with(core, "sendump", As::file), "noisedict", As::danglingLink),
       "noisedict: not a readable file"},
      {"sendump a folder beside good mixture weights",
       with(with(core, "mixture_weights", As::file), "sendump", As::folder),
       "sendump: not a readable file"},
      {"senmgau without mixture_weights, which it alone reads",
       with(with(core, "sendump", As::file), "senmgau", As::file),
       "senmgau without mixture_weights, the only weights it reads"},
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
    EXPECT_EQ(acousticModelProblem(base.string()).value_or(kLoads), std::string(layout.problem));
  }
  fs::remove_all(base);
}

// The language model and the dictionary, with Debian's acoustic model: each reason names the file.
TEST(ModelFiles, NamesTheLanguageModelOrDictionaryThatCannotBeGiven) {
  const fs::path base = fs::path(::testing::TempDir()) / ("model-lm-" + std::to_string(getpid()));
  const std::string arpa = "\\data\\\nngram 1=1\n\n\\1-grams:\n-1 a\n\n\\end\\\n";
  const struct {
    const char* name;
    const char* file;  // the language model's name
    std::string contents;
    bool dictionary;
    std::string problem;  // after the folder and a slash; "" when it loads
  } cases[] = {
      {"a binary model that ends with a NUL", "language-model.lm.bin", std::string("x\0", 2), true,
       ""},
      {"a binary model cut short", "language-model.lm.bin", "xy", true,
       "language-model.lm.bin: not a whole language model"},
      {"a whole text model", "language-model.lm", arpa, true, ""},
      {"a text model cut short", "language-model.lm", arpa.substr(0, arpa.size() - 8), true,
       "language-model.lm: not a whole language model"},
      {"a text model without its header", "language-model.lm", arpa.substr(7), true,
       "language-model.lm: not a whole language model"},
      {"no dictionary", "language-model.lm", arpa, false, "dictionary.dict: not a readable file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(base);
    fs::create_directories(base);
    fs::create_directory_symlink(std::string(QUILLMATE_MODEL_ROOT) + "/en-us/en-us",
                                 base / "acoustic-model");
    std::ofstream(base / c.file, std::ios::binary) << c.contents;
    if (c.dictionary) std::ofstream(base / "dictionary.dict") << "a AH\n";
    const ModelFiles model = ModelFiles::installedLayout(base.string());
    EXPECT_EQ(model.firstProblem().value_or(""),
              c.problem.empty() ? "" : base.string() + "/" + c.problem);
  }
  fs::remove_all(base);
}

}  // namespace
}  // namespace quillmate::linux_platform
