// The user-facing messages that end a session with an "error" line.
#pragma once

#include <string_view>

namespace quillmate::messages {

inline constexpr std::string_view unavailable =
    "On-device speech recognition is unavailable for your current language. Enable a supported "
    "speech language in macOS Settings.";
inline constexpr std::string_view microphone =
    "Allow Microphone access for Quillmate in System Settings \u2192 Privacy & Security.";
inline constexpr std::string_view speechRecognition =
    "Allow Speech Recognition for Quillmate in System Settings \u2192 Privacy & Security.";
inline constexpr std::string_view noMicrophoneInput = "No microphone input is available.";
inline constexpr std::string_view microphoneCouldNotStart = "Microphone could not start: ";
inline constexpr std::string_view onDeviceDictation = "On-device dictation: ";

}  // namespace quillmate::messages
