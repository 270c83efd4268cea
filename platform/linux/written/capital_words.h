// Names and acronyms as an English word list spells them.
#pragma once

#include <optional>
#include <string_view>

namespace quillmate::linux_platform::written {

// The capitalised spelling of a lower-case word that the word list holds only capitalised
// ("chicago" as "Chicago", "nasa" as "NASA"), or none.
std::optional<std::string_view> capitalForm(std::string_view lower);

}  // namespace quillmate::linux_platform::written
