// The channel estimate kept between dictations: what is used, what is ignored in favour of the
// model's own, and how it is written.
#include "platform/linux/channel_estimate.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <thread>

#include "platform/linux/decoder_estimate.h"
#include "platform/linux/model_load.h"

namespace quillmate::linux_platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLength = 13;
const char* const kKey = "0123456789abcdef";

Estimate someEstimate() {
  Estimate estimate;
  for (std::size_t i = 0; i < kLength; ++i) estimate.push_back(static_cast<float>(i) - 4.25f);
  estimate[0] = 52.5f;
  return estimate;
}

struct Folder {
  Folder() {
    char pattern[] = "/tmp/quillmate-state-XXXXXX";
    root = mkdtemp(pattern);
  }
  ~Folder() { fs::remove_all(root); }
  std::string state() const { return root + "/quillmate-dictate"; }
  std::string file() const { return state() + "/" + kKey + ".cmn"; }
  void put(const std::string& text) const {
    fs::create_directories(state());
    std::ofstream(file(), std::ios::binary) << text;
  }
  std::string root;
};

TEST(ChannelEstimate, AKeptEstimateIsUsedOnlyWhenItIsWholeAndThisModels) {
  const std::string valid = formatEstimate(kKey, someEstimate());
  auto replaced = [&](std::string from, std::string to) {
    std::string text = valid;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const struct Case {
    const char* name;
    std::function<void(const Folder&)> state;
    bool used;
  } cases[] = {
      {"valid", [&](const Folder& f) { f.put(valid); }, true},
      {"absent", [](const Folder&) {}, false},
      {"garbage",
       [](const Folder& f) {
         f.put(
             "\x7f"
             "ELF\x02\x01\x01 not an estimate");
       },
       false},
      {"cut short", [&](const Folder& f) { f.put(valid.substr(0, valid.size() - 7)); }, false},
      {"cut before its last line feed",
       [&](const Folder& f) { f.put(valid.substr(0, valid.size() - 1)); }, false},
      {"empty", [](const Folder& f) { f.put(""); }, false},
      {"too few values", [&](const Folder& f) { f.put(replaced(" 7.75\n", "\n")); }, false},
      {"too many values", [&](const Folder& f) { f.put(replaced(" 7.75\n", " 7.75 1\n")); }, false},
      {"a doubled space", [&](const Folder& f) { f.put(replaced(" 7.75\n", "  7.75\n")); }, false},
      {"NaN", [&](const Folder& f) { f.put(replaced("52.5", "nan")); }, false},
      {"infinity", [&](const Folder& f) { f.put(replaced("52.5", "inf")); }, false},
      {"a huge value", [&](const Folder& f) { f.put(replaced("52.5", "1e30")); }, false},
      {"an absurd value", [&](const Folder& f) { f.put(replaced("52.5", "-250")); }, false},
      {"oversized", [&](const Folder& f) { f.put(valid + std::string(kMostEstimateBytes, ' ')); },
       false},
      {"another model's file", [&](const Folder& f) { f.put(replaced(kKey, "fedcba9876543210")); },
       false},
      {"another format's version",
       [&](const Folder& f) { f.put(replaced("estimate 1\n", "estimate 2\n")); }, false},
      {"a folder in its place", [](const Folder& f) { fs::create_directories(f.file()); }, false},
      {"a link to a valid file",
       [&](const Folder& f) {
         f.put(valid);
         fs::rename(f.file(), f.root + "/elsewhere");
         fs::create_symlink(f.root + "/elsewhere", f.file());
       },
       false},
      {"a FIFO in its place",
       [](const Folder& f) {
         fs::create_directories(f.state());
         mkfifo(f.file().c_str(), 0600);
       },
       false},
      {"a state folder that is a file",
       [](const Folder& f) { std::ofstream(f.state()) << "not a folder"; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder;
    c.state(folder);
    EstimateStore store(folder.state(), kKey);
    auto kept = store.read(kLength);
    EXPECT_EQ(kept.has_value(), c.used);
    if (kept) {
      EXPECT_EQ(*kept, someEstimate());
    }
  }
}

TEST(ChannelEstimate, AWriteReplacesTheFileInOneStepAndFollowsNoLink) {
  Folder folder;
  EstimateStore store(folder.state() + "/deeper", kKey);
  ASSERT_TRUE(store.write(someEstimate()));
  EXPECT_EQ(store.read(kLength), someEstimate());
  EXPECT_EQ(fs::status(folder.state() + "/deeper").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(store.path()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  // Only the kept file is left: the temporary one was renamed.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.state() + "/deeper"), {}), 1);

  // A link planted in the file's place is replaced, never written through.
  std::string target = folder.root + "/target";
  std::ofstream(target) << "keep me";
  fs::remove(store.path());
  fs::create_symlink(target, store.path());
  ASSERT_TRUE(store.write(someEstimate()));
  EXPECT_FALSE(fs::is_symlink(store.path()));
  std::ifstream left(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(left), {}), "keep me");
}

TEST(ChannelEstimate, AFolderThatCannotBeWrittenKeepsNothing) {
  Folder folder;
  // A file where the state folder would be, and a link in its place: neither is written.
  std::ofstream(folder.state()) << "a file";
  EXPECT_FALSE(EstimateStore(folder.state(), kKey).write(someEstimate()));
  fs::create_directories(folder.root + "/real");
  fs::create_directory_symlink(folder.root + "/real", folder.root + "/linked");
  EXPECT_FALSE(EstimateStore(folder.root + "/linked", kKey).write(someEstimate()));
  EXPECT_TRUE(fs::is_empty(folder.root + "/real"));
}

TEST(ChannelEstimate, TwoHelpersThatEndTogetherLeaveOneWholeFile) {
  Folder folder;
  EstimateStore store(folder.state(), kKey);
  Estimate other = someEstimate();
  other[0] = 30.0f;
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i) {
    writers.emplace_back([&, i] {
      for (int n = 0; n < 50; ++n) store.write(i % 2 ? other : someEstimate());
    });
  }
  for (int n = 0; n < 200; ++n) {
    // Looked for before the read: once the file is there it is never gone, only replaced whole.
    bool there = fs::exists(store.path());
    auto kept = store.read(kLength);
    if (there) {
      EXPECT_TRUE(kept && (*kept == other || *kept == someEstimate()));
    }
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.state()), {}), 1);
}

TEST(ChannelEstimate, TheStateFolderFollowsTheBaseDirectoryRules) {
  const struct Case {
    std::map<std::string, std::string> variables;
    std::optional<std::string> folder;
  } cases[] = {
      {{{"XDG_STATE_HOME", "/state"}, {"HOME", "/home/u"}}, "/state/quillmate-dictate"},
      {{{"HOME", "/home/u"}}, "/home/u/.local/state/quillmate-dictate"},
      {{{"XDG_STATE_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.local/state/quillmate-dictate"},
      {{{"XDG_STATE_HOME", "state"}, {"HOME", "/home/u"}},
       "/home/u/.local/state/quillmate-dictate"},
      {{{"HOME", "relative"}}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    auto folder = stateFolder([&](const char* name) -> const char* {
      auto found = c.variables.find(name);
      return found == c.variables.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(folder, c.folder);
  }
}

TEST(ChannelEstimate, TheKeyTellsModelsApart) {
  const std::string debian = std::string(QUILLMATE_MODEL_ROOT) + "/en-us";
  ModelFiles model = ModelFiles::debianLayout(debian);
  EXPECT_EQ(modelKey(model), modelKey(ModelFiles::debianLayout(debian)));
  // The same files elsewhere, then touched: each is another model as far as the key goes.
  Folder folder;
  fs::copy(model.acousticModel, folder.root + "/en-us");
  ModelFiles copy = model;
  copy.acousticModel = folder.root + "/en-us";
  std::string copied = modelKey(copy);
  EXPECT_NE(copied, modelKey(model));
  fs::last_write_time(copy.acousticModel + "/means",
                      fs::last_write_time(copy.acousticModel + "/means") + std::chrono::hours(1));
  EXPECT_NE(modelKey(copy), copied);
}

// The decoder the load hands over already has the kept estimate, before it decodes any audio.
TEST(ChannelEstimate, AKeptEstimateIsInForceBeforeTheFirstAudio) {
  ModelFiles model = ModelFiles::debianLayout(std::string(QUILLMATE_MODEL_ROOT) + "/en-us");
  auto decoderOf = [&](std::shared_ptr<const EstimateStore> store) {
    auto load = ModelLoad::start(model, store);
    std::optional<Decoder> decoder;
    while (!(decoder = load->decoderOrWake([] {}))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return *decoder;
  };
  Folder folder;
  auto store = std::make_shared<EstimateStore>(folder.state(), modelKey(model));
  Decoder cold = decoderOf(store);
  ASSERT_TRUE(cold);
  ASSERT_EQ(estimateLength(cold.get()), kLength);
  Estimate own = liveEstimate(cold.get());
  EXPECT_FLOAT_EQ(own[0], 41.0f);  // the model's feat.params
  ASSERT_TRUE(store->write(someEstimate()));
  Decoder carried = decoderOf(store);
  ASSERT_TRUE(carried);
  EXPECT_EQ(liveEstimate(carried.get()), someEstimate());
}

}  // namespace
}  // namespace quillmate::linux_platform
