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

// How much of a text language model the check reads: "\data\" must begin a line within the
// first kArpaHeadBytes, and "\end\" must be the last word of the last kArpaTailBytes.
constexpr std::size_t kArpaHeadBytes = 4096;
constexpr long kArpaTailBytes = 64;

constexpr const char* kNotReadable = ": not a readable file";

// The decoder's library ends the whole process when it cannot read a file it was given (a
// folder where a file should be, say), so each one is checked here first.
bool readableFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// A binary language model ends with its vocabulary, each word ended by a NUL. The decoder's
// library reads those words with strlen, past the end of its buffer when the file was cut
// short, so a file that does not end with a NUL is refused before the library sees it.
bool binaryModelIsWhole(FILE* file) {
  if (std::fseek(file, -1, SEEK_END) != 0) return false;
  return std::fgetc(file) == 0;
}

// A text (ARPA) model must be a whole document: "\data\" at the start of a line near its
// beginning, and "\end\" as its last word.
bool arpaModelIsWhole(FILE* file) {
  std::string head(kArpaHeadBytes, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::size_t data = head.find("\\data\\");
  if (data == std::string::npos || (data > 0 && head[data - 1] != '\n')) return false;
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  long size = std::ftell(file);
  if (std::fseek(file, std::max(0L, size - kArpaTailBytes), SEEK_SET) != 0) return false;
  std::string tail(kArpaTailBytes, '\0');
  tail.resize(std::fread(tail.data(), 1, tail.size(), file));
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back()))) tail.pop_back();
  return tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "\\end\\") == 0;
}

bool isArpa(const std::string& path) {
  return path.size() >= 3 && path.compare(path.size() - 3, 3, ".lm") == 0;
}

}  // namespace

bool pathPresent(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

std::optional<std::string> acousticModelProblem(const std::string& folder) {
  auto file = [&](const std::string& name) { return folder + "/" + name; };
  for (const char* name : kRequired) {
    if (!readableFile(file(name))) return name + std::string(kNotReadable);
  }
  for (const char* name : kOptional) {
    if (pathPresent(file(name)) && !readableFile(file(name))) {
      return name + std::string(kNotReadable);
    }
  }
  const bool sendump = pathPresent(file("sendump"));
  const bool mixtureWeights = pathPresent(file("mixture_weights"));
  const bool senmgau = pathPresent(file("senmgau"));
  if (senmgau && !mixtureWeights) {
    return std::string("senmgau without mixture_weights, the only weights it reads");
  }
  if (!sendump && !mixtureWeights) return std::string("neither sendump nor mixture_weights");
  // With senmgau, sendump is never read.
  if (!senmgau && sendump && !readableFile(file("sendump"))) {
    return "sendump" + std::string(kNotReadable);
  }
  if (mixtureWeights && !readableFile(file("mixture_weights"))) {
    return "mixture_weights" + std::string(kNotReadable);
  }
  return std::nullopt;
}

ModelFiles ModelFiles::debianLayout(const std::string& folder) {
  return {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
}

ModelFiles ModelFiles::installedLayout(const std::string& folder) {
  std::string binary = folder + "/language-model.lm.bin";
  return {folder + "/acoustic-model", pathPresent(binary) ? binary : folder + "/language-model.lm",
          folder + "/dictionary.dict"};
}

bool ModelFiles::languageModelIsWhole() const {
  File file(std::fopen(languageModel.c_str(), "rb"), std::fclose);
  if (!file) return false;
  return isArpa(languageModel) ? arpaModelIsWhole(file.get()) : binaryModelIsWhole(file.get());
}

std::optional<std::string> ModelFiles::firstProblem() const {
  if (auto problem = acousticModelProblem(acousticModel)) {
    return acousticModel + "/" + *problem;
  }
  for (const std::string* path : {&languageModel, &dictionary}) {
    if (!readableFile(*path)) return *path + kNotReadable;
  }
  if (!languageModelIsWhole()) return languageModel + ": not a whole language model";
  return std::nullopt;
}

}  // namespace quillmate::linux_platform
