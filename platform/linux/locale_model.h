// Which installed speech model serves a locale. The identifier comes from the command line, so
// it never becomes part of a path: a fixed table maps well-formed identifiers to model folders.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmate::linux_platform {

// The model folder (a name under the model root) for a locale identifier such as "en-US",
// "en_US", "en" or "en_US.UTF-8"; none for anything else, malformed identifiers included.
std::optional<std::string> modelFolderFor(std::string_view identifier);

// The user's current locale from the C library's settings; "C" and "POSIX" count as "en_US".
std::string currentLocaleIdentifier();

}  // namespace quillmate::linux_platform
