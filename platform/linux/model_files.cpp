#include "platform/linux/model_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace quillmate::linux_platform {
namespace {

constexpr const char* kRequired[] = {"mdef", "means", "variances", "transition_matrices"};
constexpr const char* kOptional[] = {"noisedict", "feat.params", "feature_transform", "senmgau"};

// The decoder's library ends the whole process when it cannot read a file it was given (a
// folder where a file should be, say), so each one is checked here first.
bool readableFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

// A name in the folder, even a link that leads nowhere: the user put it there to be used.
bool present(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

bool acousticModelReadable(const std::string& folder) {
  auto file = [&](const char* name) { return folder + "/" + name; };
  for (const char* name : kRequired) {
    if (!readableFile(file(name))) return false;
  }
  for (const char* name : kOptional) {
    if (present(file(name)) && !readableFile(file(name))) return false;
  }
  bool sendump = present(file("sendump"));
  bool mixtureWeights = present(file("mixture_weights"));
  if (present(file("senmgau"))) return mixtureWeights && readableFile(file("mixture_weights"));
  if (!sendump && !mixtureWeights) return false;
  if (sendump && !readableFile(file("sendump"))) return false;
  return !mixtureWeights || readableFile(file("mixture_weights"));
}

ModelFiles ModelFiles::debianLayout(const std::string& folder) {
  return {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
}

ModelFiles ModelFiles::installedLayout(const std::string& folder) {
  struct stat status;
  std::string binary = folder + "/language-model.lm.bin";
  bool hasBinary = lstat(binary.c_str(), &status) == 0;
  return {folder + "/acoustic-model", hasBinary ? binary : folder + "/language-model.lm",
          folder + "/dictionary.dict"};
}

// A binary language model ends with its vocabulary, each word ended by a NUL. The decoder's
// library reads those words with strlen, past the end of its buffer when the file was cut short,
// so a file that does not end with a NUL is refused before the library sees it. A text (ARPA)
// model must be a whole document: "\data\" at the start of a line near its beginning, and
// "\end\" as its last word. Both checks read a few kilobytes at most.
bool ModelFiles::languageModelIsWhole() const {
  const std::string& path = languageModel;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  if (path.size() < 3 || path.compare(path.size() - 3, 3, ".lm") != 0) {
    if (std::fseek(file.get(), -1, SEEK_END) != 0) return false;
    return std::fgetc(file.get()) == 0;
  }
  std::string head(4096, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file.get()));
  std::size_t data = head.find("\\data\\");
  if (data == std::string::npos || (data > 0 && head[data - 1] != '\n')) return false;
  std::string tail(64, '\0');
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  long size = std::ftell(file.get());
  if (std::fseek(file.get(), std::max(0L, size - 64), SEEK_SET) != 0) return false;
  tail.resize(std::fread(tail.data(), 1, tail.size(), file.get()));
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back()))) tail.pop_back();
  return tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\\end\\") == 0;
}

bool ModelFiles::readable() const {
  return acousticModelReadable(acousticModel) && readableFile(languageModel) &&
         readableFile(dictionary) && languageModelIsWhole();
}

}  // namespace quillmate::linux_platform
