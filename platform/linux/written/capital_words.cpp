#include "platform/linux/written/capital_words.h"

#include <algorithm>
#include <iterator>

namespace quillmate::linux_platform::written {
namespace {

using namespace std::string_view_literals;

struct Entry {
  std::string_view lower;
  std::string_view written;
};

// Sorted by the lower-case form; built from the word list when the helper is built.
constexpr Entry kEntries[] = {
#include "capital_words.inc"
};

}  // namespace

std::optional<std::string_view> capitalForm(std::string_view lower) {
  auto found =
      std::lower_bound(std::begin(kEntries), std::end(kEntries), lower,
                       [](const Entry& entry, std::string_view key) { return entry.lower < key; });
  if (found == std::end(kEntries) || found->lower != lower) return std::nullopt;
  return found->written;
}

}  // namespace quillmate::linux_platform::written
