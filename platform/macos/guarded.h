// Apple's frameworks report some failures by raising an Objective-C exception instead of
// returning an error, and an exception that escapes ends the process with no final line. Every
// call that Apple documents as raising goes through `guarded`, which turns the exception into
// its reason, a value.
#pragma once

#import <Foundation/Foundation.h>

#include <optional>
#include <string>

#include "platform/macos/text.h"

namespace quillmate::macos {

// What an exception says about itself: its reason, else its name.
inline std::string reasonOf(NSException* exception) {
  std::string reason = utf8(exception.reason);
  if (reason.empty()) reason = utf8(exception.name);
  if (reason.empty()) reason = "The audio system raised an exception.";
  return reason;
}

// Runs `work`; gives nothing when it returned, or the reason of the exception it raised.
template <typename Work>
std::optional<std::string> guarded(Work&& work) {
  std::optional<std::string> raised;
  @try {
    work();
  } @catch (NSException* exception) {
    raised = reasonOf(exception);
  }
  return raised;
}

}  // namespace quillmate::macos
