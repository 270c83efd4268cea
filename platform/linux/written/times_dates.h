// Times, dates and years said in words, as they are typed: "3:30 PM", "10 AM", "5 o'clock",
// "June 8th", "the 21st of March", "June 8, 2027", "2027".
#pragma once

#include <optional>
#include <string_view>

#include "platform/linux/written/pieces.h"

namespace quillmate::linux_platform::written {

// The month a word names, 1 to 12.
std::optional<int> monthNumber(std::string_view word);
// "may", "march" and "august" are also ordinary words: they are months only beside a day or
// after a word that leads to a date ("in", "by", "next").
bool monthIsAlsoAWord(std::string_view word);
// Words after which a month word is a month: "in May", "until March", "last August".
bool leadsToMonth(std::string_view word);

// A time ("three thirty p m"), a month with its day or year ("june eighth"), a day after "the"
// where it is a date ("by the fifteenth", "the first of march"), or a year ("twenty twenty
// seven", "in two thousand twenty six").
std::optional<Match> timesAndDates(const Words& words, std::size_t at,
                                   const std::vector<Piece>& written);

}  // namespace quillmate::linux_platform::written
