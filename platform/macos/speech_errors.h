// Which of the recognizer's errors mean that it ended its task because it heard no speech. The
// on-device recognizer reports this when a speaker pauses long enough, and when a new task
// hears nothing; the dictation goes on through it. Plain C++, so that it reads the same on
// every platform.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillmate::macos {

inline bool meansNothingSaid(std::string_view domain, int64_t code) {
  // "No speech detected", from the assistant framework that does the recognition.
  return domain == "kAFAssistantErrorDomain" && code == 1110;
}

}  // namespace quillmate::macos
