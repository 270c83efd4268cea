// The user-facing message texts, written out here, once, rather than taken from the product:
// a changed text fails the tests that expect these.
#pragma once

#include <string>

namespace quillmate::testing::expected {

inline const std::string unavailable =
    "On-device speech recognition is unavailable for your current language. Enable a supported "
    "speech language in macOS Settings.";
// The arrow is U+2192, three bytes in UTF-8; the ampersand is a plain "&".
inline const std::string microphone =
    "Allow Microphone access for Quillmate in System Settings \xE2\x86\x92 Privacy & Security.";
inline const std::string speechRecognition =
    "Allow Speech Recognition for Quillmate in System Settings \xE2\x86\x92 Privacy & Security.";
inline const std::string noMicrophoneInput = "No microphone input is available.";
inline const std::string microphoneCouldNotStart = "Microphone could not start: ";
inline const std::string onDeviceDictation = "On-device dictation: ";

}  // namespace quillmate::testing::expected
