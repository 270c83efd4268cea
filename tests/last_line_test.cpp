// The last line that a dying process writes: what it says, that it is written once, and that
// it starts on a line of its own. Each case runs in a child process, whose standard output the
// test reads, since a final line can be claimed only once per process.
#include "output/last_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "output/status_line.h"
#include "tests/status_lines.h"

namespace quillmate {
namespace {

using testing::Line;
using testing::parseLines;

struct Ending {
  std::string output;
  int status;
};

// Runs `body` in a child whose standard output is a pipe, then ends the child as a dying
// process does: with the last line's status. `body` writes one byte to `ready` when the
// parent may start reading; otherwise the parent reads at once.
Ending dyingChild(const std::function<void(int ready)>& body, bool waitForReady = false) {
  int output[2], ready[2];
  EXPECT_EQ(pipe(output), 0);
  EXPECT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(output[1], STDOUT_FILENO);
    close(output[0]);
    close(ready[0]);
    body(ready[1]);
    _exit(writeLastLine());
  }
  close(output[1]);
  close(ready[1]);
  char byte;
  if (waitForReady) {
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
  }
  close(ready[0]);
  std::string text;
  char chunk[65536];
  for (ssize_t count; (count = read(output[0], chunk, sizeof chunk)) > 0;)
    text.append(chunk, count);
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

const Line kStopped{"error", "", std::string(kStoppedUnexpectedly)};

TEST(LastLine, CarriesTheLatestTranscriptAndIsWrittenOnce) {
  struct Case {
    const char* name;
    std::function<void(int)> body;
    std::vector<Line> lines;
    int status;
  };
  const Case cases[] = {
      {"before any status line", [](int) {}, {kStopped}, 1},
      {"after a result",
       [](int) {
         emit("starting");
         emit("listening", "go forward");
       },
       {{"starting", "", ""},
        {"listening", "go forward", ""},
        {"error", "go forward", kStopped.error}},
       1},
      {"after the session's own final line, nothing more and its status",
       [](int) {
         emit("listening", "go");
         ASSERT_TRUE(claimFinalLine(0));
         emit("done", "go");
         finalLineWritten();
       },
       {{"listening", "go", ""}, {"done", "go", ""}},
       0},
      {"after another road's final line, a status line writes nothing",
       [](int) {
         emit("starting");
         EXPECT_EQ(writeLastLine(), 1);
         emit("listening");
       },
       {{"starting", "", ""}, {"error", "", kStopped.error}},
       1},
      {"after the session's final line, a further status line writes nothing",
       [](int) {
         ASSERT_TRUE(claimFinalLine(1));
         emit("error", "", "Recognition could not start.");
         emit("listening", "go");
         finalLineWritten();
       },
       {{"error", "", "Recognition could not start."}},
       1},
      {"a second road writes nothing more",
       [](int) {
         emit("listening", "go");
         EXPECT_EQ(writeLastLine(), 1);
       },
       {{"listening", "go", ""}, {"error", "go", kStopped.error}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ending ending = dyingChild(c.body);
    EXPECT_EQ(parseLines(ending.output), c.lines);
    EXPECT_EQ(ending.status, c.status);
  }
}

TEST(LastLine, BeforeAnyStatusLineItIsTheStatusLineOfItsMessage) {
  Ending ending = dyingChild([](int) {});
  EXPECT_EQ(ending.output, statusLine("error", "", kStoppedUnexpectedly));
}

TEST(LastLine, AfterALineCutShortItStartsALineOfItsOwn) {
  // Far longer than a pipe holds, so that a write that may not wait leaves it cut short.
  std::string transcript;
  for (int i = 0; i < 4000; ++i) transcript += "a\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301";
  Ending ending = dyingChild(
      [&](int ready) {
        fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);
        emit("listening", transcript);
        fcntl(STDOUT_FILENO, F_SETFL, 0);
        [[maybe_unused]] ssize_t told = write(ready, "x", 1);
      },
      true);
  std::string last = ending.output.substr(ending.output.rfind('\n', ending.output.size() - 2) + 1);
  std::vector<Line> lines = parseLines(last);
  ASSERT_EQ(lines.size(), 1u) << last.substr(0, 200);
  EXPECT_EQ(lines[0].status, "error");
  EXPECT_EQ(lines[0].error, kStoppedUnexpectedly);
  // Too long for the ready line's room: it keeps fewer of the transcript's characters, whole.
  EXPECT_FALSE(lines[0].transcript.empty());
  EXPECT_EQ(transcript.rfind(lines[0].transcript, 0), 0u);
  EXPECT_EQ(ending.status, 1);
}

}  // namespace
}  // namespace quillmate
