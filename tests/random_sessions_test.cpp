// Thousands of random sessions on virtual time: every start-up outcome, permission answers,
// results and errors at random times before and after the end of audio, end-of-file and the
// cap at random times. Each must keep the promises a host relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "output/characters.h"
#include "tests/session_harness.h"

namespace quillmate::testing {
namespace {

using scripted::Scenario;
using scripted::ScriptedResult;

class Generator {
 public:
  explicit Generator(uint64_t seed) : random(seed) {}

  int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); }
  bool chance(int percent) { return below(100) < percent; }
  std::chrono::milliseconds upTo(int ms) { return std::chrono::milliseconds(below(ms + 1)); }

  std::string transcript() {
    switch (below(6)) {
      case 0:
        return "";
      case 1:
        return std::string(4000 + below(50), 'w');
      case 2: {
        std::string text;
        for (int i = 0, n = 3990 + below(20); i < n; ++i) text += "\U0001F44B\U0001F3FD";
        return text;
      }
      case 3:
        return "line\nbreak \"quoted\" \\ \x01";
      default:
        return "word " + std::to_string(below(1000));
    }
  }

  ScriptedResult result() {
    ScriptedResult scripted;
    scripted.from =
        chance(50) ? ScriptedResult::From::taskCreated : ScriptedResult::From::audioEnded;
    scripted.after = upTo(chance(80) ? 3000 : 70000);
    if (chance(85)) scripted.result = RecognitionResult{{transcript()}, chance(8)};
    if (chance(10)) scripted.error = Error{"Recognition failed."};
    return scripted;
  }

  Scenario scenario() {
    Scenario s;
    s.recognizerExists = !chance(5);
    s.available = !chance(5);
    s.onDevice = !chance(5);
    const int64_t microphone[] = {0, 0, 1, 2, 3, 3, 3, 9};
    s.microphone.status = microphone[below(8)];
    s.microphone.granted = !chance(20);
    s.microphone.answerAfter = upTo(chance(80) ? 2000 : 90000);
    const int64_t speech[] = {0, 1, 2, 3, 3, 3, 3, -4};
    s.speech.status = speech[below(8)];
    s.speech.answerAfter = upTo(chance(80) ? 2000 : 90000);
    const AudioFormat formats[] = {{48000, 1}, {44100, 2}, {16000, 1}, {0, 1}, {48000, 0}};
    s.input = chance(90) ? formats[below(3)] : formats[3 + below(2)];
    if (chance(5)) s.engineStartError = "The device is busy.";
    int bursts = below(3) == 0 ? below(40) : below(6);
    for (int i = 0; i < bursts; ++i) s.results.push_back(result());
    return s;
  }

  std::mt19937_64 random;
};

// The host's invariants for one session; gives what was broken, or nothing.
std::string broken(SessionHarness& session, std::chrono::milliseconds cap,
                   const std::vector<Line>& lines, std::size_t callsAtExit) {
  std::ostringstream why;
  bool seenTranscript = false;
  bool seenEmptyListening = false;
  std::string latest;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    bool final = line.status == "done" || line.status == "error";
    if (line.status.rfind("<invalid", 0) == 0) why << "invalid line " << i << "; ";
    if (line.status == "starting" && i != 0) why << "\"starting\" not first; ";
    if (final != (i + 1 == lines.size())) why << "final line not exactly last; ";
    if (line.status == "listening") {
      if (line.transcript.empty() && !seenTranscript) seenEmptyListening = true;
      if (!line.transcript.empty()) {
        if (!seenEmptyListening) why << "transcript before the empty \"listening\"; ";
        seenTranscript = true;
      }
      latest = line.transcript;
    }
    if (firstCharacters(line.transcript, 4000) != line.transcript) why << "transcript too long; ";
  }
  if (lines.empty()) return "no line at all";
  const Line& last = lines.back();
  if (last.transcript != latest) why << "final transcript is not the latest; ";
  if (session.exits != std::vector<int>{last.status == "done" ? 0 : 1}) {
    why << "exit statuses do not match the final line; ";
  }
  if (session.calls().size() != callsAtExit) why << "platform call after the end; ";
  if (session.endedAt > cap + std::chrono::milliseconds(1000)) why << "ended after cap + grace; ";
  return why.str();
}

TEST(RandomSessions, EveryOneKeepsTheHostsInvariants) {
  const uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed() + 20261208;
  constexpr int kSessions = 3000;
  Generator generate(seed);
  for (int n = 0; n < kSessions; ++n) {
    Scenario scenario = generate.scenario();
    auto cap = std::chrono::milliseconds(1000 + generate.below(60000));
    bool endOfFile = generate.chance(70);
    auto endOfFileAt = generate.upTo(70000);
    SessionHarness session(scenario);
    std::size_t callsAtExit = 0;
    session.exitHook = [&] { callsAtExit = session.calls().size(); };
    session.startWithCap(cap);
    if (endOfFile) session.endOfFileAt(std::max(endOfFileAt, session.now()));
    session.runFor(std::chrono::minutes(3));
    std::vector<Line> lines = session.lines();
    std::string why = broken(session, cap, lines, callsAtExit);
    ASSERT_EQ(why, "") << "session " << n << " of seed " << seed
                       << " (rerun with --gtest_random_seed=" << seed - 20261208 << ")";
  }
}

}  // namespace
}  // namespace quillmate::testing
