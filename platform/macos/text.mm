#include "platform/macos/text.h"

#include <cstring>

namespace quillmate::macos {

std::string utf8(NSString* text) {
  const char* bytes = text.UTF8String;
  return bytes ? std::string(bytes) : std::string();
}

std::optional<NSString*> foundationString(const std::string& text) {
  if (std::memchr(text.data(), 0, text.size())) return std::nullopt;
  NSString* converted = [NSString stringWithUTF8String:text.c_str()];
  if (!converted) return std::nullopt;
  return converted;
}

}  // namespace quillmate::macos
