#include "platform/linux/locale_model.h"

#include <clocale>
#include <cstdlib>

namespace quillmate::linux_platform {
namespace {

constexpr std::size_t kLongestIdentifier = 64;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Takes characters from the front of `rest` while `accept` holds; gives them in lower case.
template <typename Accept>
std::string take(std::string_view& rest, Accept accept) {
  std::string taken;
  while (!rest.empty() && accept(rest.front())) {
    taken += lower(rest.front());
    rest.remove_prefix(1);
  }
  return taken;
}

}  // namespace

std::vector<std::string> modelTagsFor(std::string_view identifier) {
  if (identifier.size() > kLongestIdentifier) return {};
  // language[(-|_)region][.codeset][@modifier], in ASCII only.
  std::string_view rest = identifier;
  std::string language = take(rest, isLetter);
  if (language.size() < 2 || language.size() > 3) return {};
  std::string region;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '_')) {
    rest.remove_prefix(1);
    region = take(rest, [](char c) { return isLetter(c) || isDigit(c); });
    if (region.size() < 2 || region.size() > 3) return {};
  }
  auto isCodeChar = [](char c) { return isLetter(c) || isDigit(c) || c == '-'; };
  if (!rest.empty() && rest.front() == '.') {
    rest.remove_prefix(1);
    if (take(rest, isCodeChar).empty()) return {};
  }
  if (!rest.empty() && rest.front() == '@') {
    rest.remove_prefix(1);
    if (take(rest, isCodeChar).empty()) return {};
  }
  if (!rest.empty()) return {};
  if (region.empty()) return {language};
  for (char& c : region) c = upper(c);
  return {language + "-" + region, language};
}

std::string currentLocaleIdentifier() {
  // The C library resolves LC_ALL, LC_MESSAGES and LANG; the process's own locale is put back.
  std::string previous = std::setlocale(LC_MESSAGES, nullptr);
  const char* resolved = std::setlocale(LC_MESSAGES, "");
  std::string name = resolved ? resolved : "";
  std::setlocale(LC_MESSAGES, previous.c_str());
  if (name.empty()) {
    // Named but not installed here: the name still says which language the user wants.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value && *value) {
        name = value;
        break;
      }
    }
  }
  if (name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) return "en_US";
  return name;
}

}  // namespace quillmate::linux_platform
