// The recognizer's English words as a person types them in a task app, in US conventions:
// "call the dentist at three thirty p m on friday" as "Call the dentist at 3:30 PM on Friday".
#pragma once

#include <string>
#include <string_view>

namespace quillmate::linux_platform {

// `words` (separated by white space) rewritten by the written-forms rules: numbers, times and
// dates, letters, punctuation, then capitals. Nothing is lost: every word comes out as itself or
// inside a written form, and words no rule reads come out unchanged. Words are joined by single
// spaces, marks by none. A pure function of its input.
std::string writtenForms(std::string_view words);

}  // namespace quillmate::linux_platform
