// Numbers said in words, and the typed forms of the ones that count, measure or name: "2 bags",
// "$3,200", "15%", "2.5", "version 2.1", "917-442-8810".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/written/pieces.h"

namespace quillmate::linux_platform::written {

// A number read from the words: its value and how many words it took.
struct Spoken {
  uint64_t value = 0;
  std::size_t count = 0;
};

// "zero" to "nine".
std::optional<int> digitValue(std::string_view word);
// Any word that can be part of a number ("seven", "thirteen", "forty", "hundred", "million").
bool isNumberWord(std::string_view word);
// 0 to 99 from `at`: "forty five", "thirteen", "seven".
std::optional<Spoken> smallNumber(const Words& words, std::size_t at);
// The longest whole number from `at`: "eighty five thousand", "three hundred and two".
std::optional<Spoken> cardinal(const Words& words, std::size_t at);
// A day of the month said as an ordinal, "first" to "thirty first".
std::optional<Spoken> dayOrdinal(const Words& words, std::size_t at);

// 3200 as "3,200"; below 1000 without a separator.
std::string grouped(uint64_t value);
// 21 as "21st", 12 as "12th".
std::string withOrdinalSuffix(uint64_t value);

// Money ("$40", "$85,000", "$4.50"), percentages, decimals and versions, digit strings said
// one by one (a phone number as "917-442-8810"), and whole numbers as digits. A lone "one" stays
// a word ("one of them", "the one"), as do ordinals ("first aid").
std::optional<Match> numbers(const Words& words, std::size_t at, const std::vector<Piece>& written);

}  // namespace quillmate::linux_platform::written
