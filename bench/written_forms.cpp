// The English written forms: how long a transcript at the 4000-character cut takes to write,
// beside the capitals-only formatting of other languages in the same run, and a filter that
// writes each line of standard input, which the bench uses to score every program's words the
// same way.
//
//   written_forms            the timing, as a Markdown table
//   written_forms --lines    each line of standard input, written
#include "platform/linux/written/written_forms.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/formatting.h"

namespace {

using quillmate::linux_platform::formatLikeDictation;
using quillmate::linux_platform::writtenForms;
using Clock = std::chrono::steady_clock;

// Task phrases dense with forms, repeated up to the transcript cut: the worst case for the
// rules, which look further at every number, month and letter.
constexpr std::string_view kPhrases[] = {
    "call the dentist at three thirty p m on friday",
    "pay the sitter forty dollars and renew the domain before june thirtieth",
    "order two thousand units for q a by the fifteenth comma then email the c e o period",
    "raise eighty five thousand dollars in twenty twenty seven",
    "call nine one seven four four two eight eight one oh about version two point one",
    "book the room in chicago for christmas eve question mark",
    "water the plants and take the dog to the vet on monday morning",
};

std::string transcript(std::size_t bytes) {
  std::string text;
  for (std::size_t i = 0; text.size() < bytes; ++i) {
    if (!text.empty()) text += ' ';
    text += kPhrases[i % std::size(kPhrases)];
  }
  return text.substr(0, text.rfind(' ', bytes));
}

// Microseconds per call, the fastest of several rounds so that a busy moment does not count.
template <typename Format>
double microseconds(Format format, const std::string& text) {
  constexpr int kCalls = 200;
  constexpr int kRounds = 7;
  double best = 1e300;
  std::size_t sink = 0;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int call = 0; call < kCalls; ++call) sink += format(text).size();
    const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
    best = std::min(best, spent.count() / kCalls);
  }
  if (sink == 0) std::puts("(nothing written)");
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--lines") {
    std::string line;
    while (std::getline(std::cin, line)) std::cout << writtenForms(line) << '\n';
    return 0;
  }
  std::puts("| transcript | written forms (µs) | capitals only (µs) | ratio |");
  std::puts("|---|---|---|---|");
  for (std::size_t bytes : {200u, 1000u, 4000u}) {
    const std::string text = transcript(bytes);
    const double written = microseconds(writtenForms, text);
    const double peer = microseconds(formatLikeDictation, text);
    std::printf("| %zu characters | %.1f | %.1f | %.1f |\n", text.size(), written, peer,
                written / peer);
  }
  return 0;
}
