#include "platform/linux/channel_estimate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace quillmate::linux_platform {
namespace {

constexpr std::string_view kFirstLine = "quillmate-dictate channel estimate 1\n";
constexpr std::string_view kModelPrefix = "model ";

bool absolute(const char* path) { return path && path[0] == '/'; }

// FNV-1a, 64 bits: a file name for the model, not a secret. The file itself names the model in
// full, so a collision could only make an estimate be ignored, never misapplied.
uint64_t fnv1a(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

// Makes each missing folder of `path` with mode 0700, as the XDG rules ask for state folders.
void makeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  mkdir(path.c_str(), 0700);
}

bool writeAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The writes under way, which the process's exit waits for. Never destroyed: the exit handler
// may run after static destructors have begun.
struct Writes {
  std::mutex mutex;
  std::condition_variable done;
  int underWay = 0;
};

Writes& writes() {
  static Writes* all = new Writes();
  return *all;
}

void awaitWrites() {
  Writes& all = writes();
  std::unique_lock lock(all.mutex);
  all.done.wait_for(lock, std::chrono::milliseconds(500), [&] { return all.underWay == 0; });
}

}  // namespace

std::optional<std::string> stateFolder(const std::function<const char*(const char*)>& variable) {
  const char* state = variable("XDG_STATE_HOME");
  if (absolute(state)) return std::string(state) + "/quillmate-dictate";
  const char* home = variable("HOME");
  if (absolute(home)) return std::string(home) + "/.local/state/quillmate-dictate";
  return std::nullopt;
}

std::string modelKey(const ModelFiles& model) {
  char* resolved = realpath(model.acousticModel.c_str(), nullptr);
  std::string identity = resolved ? resolved : model.acousticModel;
  std::free(resolved);
  for (const char* file : {"feat.params", "mdef", "means", "variances"}) {
    struct stat status {};
    identity += '\n';
    identity += file;
    if (stat((model.acousticModel + "/" + file).c_str(), &status) != 0) continue;
    identity += ' ' + std::to_string(status.st_size) + ' ' + std::to_string(status.st_mtim.tv_sec) +
                '.' + std::to_string(status.st_mtim.tv_nsec);
  }
  return hex(fnv1a(identity));
}

std::string formatEstimate(std::string_view key, const Estimate& estimate) {
  std::string text(kFirstLine);
  text += kModelPrefix;
  text += key;
  text += '\n';
  for (std::size_t i = 0; i < estimate.size(); ++i) {
    char value[32];
    std::snprintf(value, sizeof value, "%.9g", static_cast<double>(estimate[i]));
    if (i > 0) text += ' ';
    text += value;
  }
  text += '\n';
  return text;
}

std::optional<Estimate> parseEstimate(std::string_view text, std::string_view key,
                                      std::size_t length) {
  if (text.size() > kMostEstimateBytes || !text.starts_with(kFirstLine)) return std::nullopt;
  text.remove_prefix(kFirstLine.size());
  std::string modelLine = std::string(kModelPrefix) + std::string(key) + '\n';
  if (!text.starts_with(modelLine)) return std::nullopt;
  text.remove_prefix(modelLine.size());
  if (!text.ends_with('\n')) return std::nullopt;
  text.remove_suffix(1);
  Estimate estimate;
  while (!text.empty() && estimate.size() <= length) {
    float value = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || !std::isfinite(value) ||
        std::fabs(value) > kMostEstimateMagnitude) {
      return std::nullopt;
    }
    estimate.push_back(value);
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (text.empty()) break;
    if (text.front() != ' ') return std::nullopt;
    text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
  }
  if (!text.empty() || estimate.size() != length) return std::nullopt;
  return estimate;
}

EstimateStore::EstimateStore(std::string folder, std::string key)
    : folder(std::move(folder)), key(std::move(key)) {
  // Armed here, on the thread that makes the recognizer, before any write could be under way.
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(awaitWrites); });
}

std::string EstimateStore::path() const { return folder + "/" + key + ".cmn"; }

std::optional<Estimate> EstimateStore::read(std::size_t length) const {
  // Non-blocking, so that a FIFO in the file's place cannot hold the load up; no link followed.
  int descriptor = open(path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  struct stat status {};
  std::string text;
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
      status.st_size <= static_cast<off_t>(kMostEstimateBytes)) {
    char buffer[kMostEstimateBytes + 1];
    ssize_t got = 0;
    while (text.size() <= kMostEstimateBytes) {
      got = ::read(descriptor, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    if (got < 0) text.clear();
  }
  close(descriptor);
  return parseEstimate(text, key, length);
}

bool EstimateStore::write(const Estimate& estimate) const {
  makeFolders(folder);
  int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) return false;
  static std::atomic<unsigned> made{0};
  std::string temporary =
      "." + key + "." + std::to_string(getpid()) + "." + std::to_string(made.fetch_add(1)) + ".tmp";
  std::string final = key + ".cmn";
  bool kept = false;
  int file = openat(directory, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file >= 0) {
    // No fsync: a file cut short by a crash is ignored when read, and costs one dictation its
    // head start, which is less than a sync would cost every dictation.
    bool whole = writeAll(file, formatEstimate(key, estimate));
    kept = close(file) == 0 && whole &&
           renameat(directory, temporary.c_str(), directory, final.c_str()) == 0;
    if (!kept) unlinkat(directory, temporary.c_str(), 0);
  }
  close(directory);
  return kept;
}

ExitWaitsForWrite::ExitWaitsForWrite() {
  std::lock_guard lock(writes().mutex);
  ++writes().underWay;
}

ExitWaitsForWrite::~ExitWaitsForWrite() {
  {
    std::lock_guard lock(writes().mutex);
    --writes().underWay;
  }
  writes().done.notify_all();
}

}  // namespace quillmate::linux_platform
