// The one place where text crosses between Foundation's strings and the helper's UTF-8.
#pragma once

#import <Foundation/Foundation.h>

#include <optional>
#include <string>

namespace quillmate::macos {

// UTF-8 bytes of `text`; empty for nil.
std::string utf8(NSString* text);

// `text` as a Foundation string, or nothing when it is not valid UTF-8 or holds a NUL, which a
// Foundation string made from UTF-8 cannot carry faithfully.
std::optional<NSString*> foundationString(const std::string& text);

}  // namespace quillmate::macos
