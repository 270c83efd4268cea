// Where the helper finds the model for a locale: folders installed on the XDG data path, in the
// XDG order, then Debian's model; the first folder found is the model, broken or not.
#include "platform/linux/model_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace quillmate::linux_platform {
namespace {

namespace fs = std::filesystem;

// A scratch folder with a home, two data folders and a stand-in for Debian's model root.
class Machine {
 public:
  Machine() : base(fs::path(::testing::TempDir()) / ("model-search-" + std::to_string(getpid()))) {
    fs::remove_all(base);
    for (const char* folder : {"home", "data1", "data2", "debian/en-us"}) {
      fs::create_directories(base / folder);
    }
  }
  ~Machine() { fs::remove_all(base); }

  // Installs a model folder `tag` under `root`'s quillmate-dictate/models.
  void install(const std::string& root, const std::string& tag) {
    fs::create_directories(base / root / "quillmate-dictate/models" / tag / "acoustic-model");
  }

  ModelSearch search(std::map<std::string, std::string> environment) {
    for (auto& [name, value] : environment) {
      std::size_t at;
      while ((at = value.find("@/")) != std::string::npos) value.replace(at, 1, base.string());
    }
    return ModelSearch::fromEnvironment(
        [&environment](const char* name) -> const char* {
          auto found = environment.find(name);
          return found == environment.end() ? nullptr : found->second.c_str();
        },
        (base / "debian").string());
  }

  // Where a found model lives, relative to the scratch folder, or "none".
  std::string where(const std::optional<ModelFiles>& model) {
    if (!model) return "none";
    return fs::path(model->dictionary).parent_path().lexically_relative(base).string();
  }

  const fs::path base;
};

TEST(ModelSearch, TakesTheFirstFolderInXdgOrderThenDebians) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> installed;  // root, tag
    std::map<std::string, std::string> environment;              // "@/x" is the scratch folder's x
    std::string identifier;
    std::string found;
  } cases[] = {
      {"home over the data folders over Debian's",
       {{"home/share", "en-US"}, {"data1", "en-US"}},
       {{"XDG_DATA_HOME", "@/home/share"}, {"XDG_DATA_DIRS", "@/data1:@/data2"}},
       "en_US",
       "home/share/quillmate-dictate/models/en-US"},
      {"the first data folder over the second",
       {{"data1", "fr"}, {"data2", "fr"}},
       {{"XDG_DATA_DIRS", "@/data1:@/data2"}},
       "fr",
       "data1/quillmate-dictate/models/fr"},
      {"a data folder over Debian's",
       {{"data2", "en"}},
       {{"XDG_DATA_DIRS", "@/data1:@/data2"}},
       "en-US",
       "data2/quillmate-dictate/models/en"},
      {"Debian's model last, for US English and English only",
       {},
       {{"XDG_DATA_DIRS", "@/data1"}},
       "en-US",
       "debian/en-us"},
      {"Debian's US English model does not stand in for British English", {}, {}, "en-GB", "none"},
      {"region first, then the language alone",
       {{"data1", "pt"}, {"data1", "pt-BR"}},
       {{"XDG_DATA_DIRS", "@/data1"}},
       "pt_BR.UTF-8",
       "data1/quillmate-dictate/models/pt-BR"},
      {"the language alone serves every region",
       {{"data1", "fr"}},
       {{"XDG_DATA_DIRS", "@/data1"}},
       "fr-CA",
       "data1/quillmate-dictate/models/fr"},
      {"without XDG_DATA_HOME, ~/.local/share",
       {{"home/.local/share", "de"}},
       {{"HOME", "@/home"}, {"XDG_DATA_DIRS", "@/data1"}},
       "de-DE",
       "home/.local/share/quillmate-dictate/models/de"},
      {"relative and empty entries are ignored",
       {{"data2", "es"}},
       {{"XDG_DATA_HOME", "home/share"}, {"HOME", "home"}, {"XDG_DATA_DIRS", ":data1::@/data2"}},
       "es",
       "data2/quillmate-dictate/models/es"},
      {"a malformed identifier finds nothing, not even a folder named like it",
       {{"data1", "en-US/.."}},
       {{"XDG_DATA_DIRS", "@/data1"}},
       "en-US/..",
       "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine;
    for (const auto& [root, tag] : c.installed) machine.install(root, tag);
    EXPECT_EQ(machine.where(machine.search(c.environment).find(c.identifier)), c.found);
  }
}

TEST(ModelSearch, TheDefaultDataFoldersAreUsrLocalShareThenUsrShare) {
  Machine machine;
  ModelSearch search = machine.search({{"HOME", "/home/someone"}});
  EXPECT_EQ(search.roots,
            (std::vector<std::string>{"/home/someone/.local/share/quillmate-dictate/models",
                                      "/usr/local/share/quillmate-dictate/models",
                                      "/usr/share/quillmate-dictate/models"}));
}

TEST(ModelSearch, ABrokenFolderIsTheModelAndDoesNotFallThrough) {
  Machine machine;
  machine.install("data2", "en-US");
  // Installed for this locale, but holding nothing the decoder can read.
  fs::create_directories(machine.base / "data1/quillmate-dictate/models/en-US");
  // A dangling link counts as installed too.
  fs::create_directories(machine.base / "data1/quillmate-dictate/models");
  fs::create_symlink(machine.base / "nowhere", machine.base / "data1/quillmate-dictate/models/en");
  ModelSearch search = machine.search({{"XDG_DATA_DIRS", "@/data1:@/data2"}});
  for (const char* identifier : {"en-US", "en"}) {
    SCOPED_TRACE(identifier);
    auto model = search.find(identifier);
    ASSERT_TRUE(model);
    EXPECT_EQ(fs::path(model->dictionary).parent_path().parent_path(),
              machine.base / "data1/quillmate-dictate/models");
    EXPECT_FALSE(model->readable());
  }
}

TEST(ModelSearch, AnInstalledFolderNamesItsFiles) {
  Machine machine;
  fs::path folder = machine.base / "model";
  fs::create_directories(folder);
  ModelFiles text = ModelFiles::installedLayout(folder.string());
  EXPECT_EQ(text.acousticModel, (folder / "acoustic-model").string());
  EXPECT_EQ(text.languageModel, (folder / "language-model.lm").string());
  EXPECT_EQ(text.dictionary, (folder / "dictionary.dict").string());
  std::ofstream(folder / "language-model.lm.bin") << "x";
  EXPECT_EQ(ModelFiles::installedLayout(folder.string()).languageModel,
            (folder / "language-model.lm.bin").string());
}

}  // namespace
}  // namespace quillmate::linux_platform
