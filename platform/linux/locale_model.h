// Which installed speech model serves a locale. The identifier comes from the command line, so
// it never becomes part of a path: only a tag that the parser builds from the letters (and
// region digits) it accepted names a model folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmate::linux_platform {

// The model tags a locale identifier names, most specific first: language in lower case and
// region in upper case, then the language alone ("fr-FR", "fr" for "fr_FR.UTF-8@euro"); the
// codeset and modifier are dropped. None for a malformed identifier.
std::vector<std::string> modelTagsFor(std::string_view identifier);

// The user's current locale from the C library's settings; "C" and "POSIX" count as "en_US".
std::string currentLocaleIdentifier();

}  // namespace quillmate::linux_platform
