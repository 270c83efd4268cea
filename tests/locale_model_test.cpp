// Locale identifiers come from the command line: only well-formed ones reach a model, and no
// identifier ever becomes a path.
#include "platform/linux/locale_model.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillmate::linux_platform {
namespace {

TEST(LocaleModel, OnlyWellFormedIdentifiersNameTagsAndTheParserBuildsThem) {
  using Tags = std::vector<std::string>;
  const struct {
    std::string identifier;
    Tags tags;
  } cases[] = {
      {"en-US", {"en-US", "en"}},
      {"en_US", {"en-US", "en"}},
      {"en", {"en"}},
      {"en_US.UTF-8", {"en-US", "en"}},
      {"EN-us", {"en-US", "en"}},
      {"en_US@euro", {"en-US", "en"}},
      {"fr_FR.UTF-8@euro", {"fr-FR", "fr"}},
      {"pt-br", {"pt-BR", "pt"}},
      {"es-419", {"es-419", "es"}},
      {"yue", {"yue"}},
      {"", {}},
      {"e", {}},
      {"C", {}},
      {"../en-us", {}},
      {"en/../../etc", {}},
      {"/usr/share/pocketsphinx/model/en-us", {}},
      {"en-us/", {}},
      {"en_US.", {}},
      {"en US", {}},
      {"en-US\n", {}},
      {std::string("en\0US", 5), {}},
      {"en-\xc3\xa9", {}},
      {"\xff\xfe", {}},
      {"en_US." + std::string(60, 'x'), {}},
      {"en-" + std::string(10000, 'U'), {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modelTagsFor(c.identifier), c.tags) << "identifier: " << c.identifier.substr(0, 40);
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
