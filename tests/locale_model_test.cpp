// Locale identifiers come from the command line: only well-formed ones reach a model, and no
// identifier ever becomes a path.
#include "platform/linux/locale_model.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillmate::linux_platform {
namespace {

TEST(LocaleModel, MapsOnlyWellFormedIdentifiersOfAnInstalledLanguage) {
  const struct {
    std::string identifier;
    std::optional<std::string> folder;
  } cases[] = {
      {"en-US", "en-us"},
      {"en_US", "en-us"},
      {"en", "en-us"},
      {"en_US.UTF-8", "en-us"},
      {"EN-us", "en-us"},
      {"en_US@euro", "en-us"},
      {"en-GB", std::nullopt},
      {"fr-FR", std::nullopt},
      {"", std::nullopt},
      {"e", std::nullopt},
      {"C", std::nullopt},
      {"../en-us", std::nullopt},
      {"en/../../etc", std::nullopt},
      {"/usr/share/pocketsphinx/model/en-us", std::nullopt},
      {"en-us/", std::nullopt},
      {"en_US.", std::nullopt},
      {"en US", std::nullopt},
      {"en-US\n", std::nullopt},
      {std::string("en\0US", 5), std::nullopt},
      {"en-\xc3\xa9", std::nullopt},
      {"\xff\xfe", std::nullopt},
      {"en_US." + std::string(60, 'x'), std::nullopt},
      {"en-" + std::string(10000, 'U'), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modelFolderFor(c.identifier), c.folder)
        << "identifier: " << c.identifier.substr(0, 40);
  }
}

TEST(LocaleModel, TheCurrentLocaleComesFromTheCLibrarySettings) {
  const struct {
    const char* lang;
    const char* identifier;
  } cases[] = {
      {"C", "en_US"},
      {"POSIX", "en_US"},
      {"C.UTF-8", "en_US"},
      {"fr_FR.UTF-8", "fr_FR.UTF-8"},  // named but perhaps not installed: still French
  };
  for (const auto& c : cases) {
    setenv("LC_ALL", c.lang, 1);
    EXPECT_EQ(currentLocaleIdentifier(), c.identifier) << c.lang;
  }
  unsetenv("LC_ALL");
}

}  // namespace
}  // namespace quillmate::linux_platform
