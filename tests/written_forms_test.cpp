// English as a person types it: one table per rule, each with the rows that must stay words and
// forms at the start, inside and at the end of a longer task.
#include "platform/linux/written/written_forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmate::linux_platform {
namespace {

struct Row {
  const char* said;
  const char* typed;
};

void expectWritten(const std::vector<Row>& rows) {
  for (const Row& row : rows) EXPECT_EQ(writtenForms(row.said), row.typed) << row.said;
}

TEST(WrittenForms, Numbers) {
  expectWritten({
      {"order two bags of mulch", "Order 2 bags of mulch"},
      {"print three hundred flyers for the fair", "Print 300 flyers for the fair"},
      {"image twelve more laptops", "Image 12 more laptops"},
      {"ship two thousand units", "Ship 2,000 units"},
      {"seven hundred and fifty people replied", "750 people replied"},
      {"one thousand and five", "1,005"},
      {"two million three thousand rows", "2,003,000 rows"},
      {"two thousand three thousand", "2,000 3,000"},  // a second number, not one sum
      {"ninety nine bottles", "99 bottles"},
      {"wait zero days", "Wait 0 days"},
      // Money, percentages, decimals and versions.
      {"pay the sitter forty dollars", "Pay the sitter $40"},
      {"raise eighty five thousand dollars", "Raise $85,000"},
      {"refund three thousand two hundred dollars today", "Refund $3,200 today"},
      {"tip two dollars and fifty cents", "Tip $2.50"},
      {"parking was three fifty dollars", "Parking was $3.50"},
      {"one dollar", "$1"},
      {"fifty cents back", "50 cents back"},
      {"cut costs fifteen percent", "Cut costs 15%"},
      {"one hundred percent", "100%"},
      {"set the ratio to two point five", "Set the ratio to 2.5"},
      {"rate three point oh five percent", "Rate 3.05%"},
      {"ship version two point one", "Ship version 2.1"},
      {"release two point one point three is out", "Release 2.1.3 is out"},
      {"open ticket four thousand twelve", "Open ticket 4012"},  // a label, not a count
      // Digits said one by one.
      {"call nine one seven four four two eight eight one oh", "Call 917-442-8810"},
      {"four four two eight eight one oh", "442-8810"},
      {"dial nine one one", "Dial 911"},
      {"room four oh two", "Room 402"},
      // Words where the number is not a quantity.
      {"one of them is the one", "One of them is the one"},
      {"first aid kit and a second opinion", "First aid kit and a second opinion"},
      {"buy one bag", "Buy one bag"},
      {"oh no", "Oh no"},
      {"make a point", "Make a point"},
  });
}

TEST(WrittenForms, TimesAndDates) {
  expectWritten({
      {"call the dentist at three thirty p m on friday", "Call the dentist at 3:30 PM on Friday"},
      {"ten a m standup", "10 AM standup"},
      {"gym at seven forty five a m", "Gym at 7:45 AM"},
      {"send it at five p. m.", "Send it at 5 PM"},
      {"lunch at twelve pm", "Lunch at 12 PM"},
      {"meet at nine fifteen", "Meet at 9:15"},
      {"at four oh five", "At 4:05"},
      {"back by five o'clock", "Back by 5 o'clock"},
      {"the one thirty meeting", "The 1:30 meeting"},
      {"at nine", "At 9"},
      {"lunch at noon and sleep by midnight", "Lunch at noon and sleep by midnight"},
      {"i am at home", "I am at home"},
      // Dates and days.
      {"renew the domain before june thirtieth", "Renew the domain before June 30th"},
      {"june eighth", "June 8th"},
      {"june eight", "June 8"},
      {"pay rent by the fifteenth", "Pay rent by the 15th"},
      {"on the first of march", "On the 1st of March"},
      {"due friday the twenty first", "Due Friday the 21st"},
      {"the twenty second of august", "The 22nd of August"},
      {"the third quarter", "The third quarter"},  // no date follows or leads
      {"by march fifth", "By March 5th"},
      {"june eighth twenty twenty seven", "June 8, 2027"},
      {"on may fifth twenty twenty six", "On May 5, 2026"},
      {"launch in june twenty twenty seven", "Launch in June 2027"},
      // Years.
      {"plan for twenty twenty seven", "Plan for 2027"},
      {"the class of nineteen ninety nine", "The class of 1999"},
      {"built in twenty oh five", "Built in 2005"},
      {"in two thousand twenty six", "In 2026"},
      {"fifteen twenty dollars", "$15.20"},  // an amount, not a year
  });
}

TEST(WrittenForms, Letters) {
  expectWritten({
      {"q a review with the c e o", "QA review with the CEO"},
      {"r. s. v. p. by friday", "RSVP by Friday"},
      {"send it to the p o box", "Send it to the PO box"},
      {"fix the u i", "Fix the UI"},
      {"a t shirt", "A t shirt"},  // a bare "a" starts no acronym
      {"i a", "I a"},
      {"buy a car", "Buy a car"},
  });
}

TEST(WrittenForms, Capitals) {
  expectWritten({
      {"i think i'm late and i'll call", "I think I'm late and I'll call"},
      {"flight to chicago with nasa", "Flight to Chicago with NASA"},
      {"venmo jess", "Venmo Jess"},
      {"book the room for christmas eve", "Book the room for Christmas Eve"},
      {"new year's eve party", "New Year's Eve party"},
      {"mother's day brunch on sunday", "Mother's Day brunch on Sunday"},
      {"check friday's report on tv", "Check Friday's report on TV"},
      {"pay the bill", "Pay the bill"},  // "bill" is a word as well as a name
      // Months that are also words.
      {"may i ask in may", "May I ask in May"},
      {"the march to the sea starts next march", "The march to the sea starts next March"},
      {"this may be late", "This may be late"},
      {"until august", "Until August"},
      {"an august guest", "An august guest"},
      {"Already Capital", "Already Capital"},
  });
}

TEST(WrittenForms, Punctuation) {
  expectWritten({
      {"reminder colon call the plumber", "Reminder: call the plumber"},
      {"is it done question mark", "Is it done?"},
      {"call mom period then email bob exclamation point", "Call mom. Then email bob!"},
      {"milk comma eggs comma bread", "Milk, eggs, bread"},
      {"it is done full stop", "It is done."},
      {"wow exclamation mark", "Wow!"},
      {"first semicolon second", "First; second"},
      {"on friday at ten a m period", "On Friday at 10 AM."},
      // Marks that stay words.
      {"comma at start", "Comma at start"},
      {"add a comma here", "Add a comma here"},
      {"the grace period ends", "The grace period ends"},
      {"question mark question mark", "Question mark?"},
      {"book a colon screening", "Book a colon screening"},
  });
}

TEST(WrittenForms, PartialResultsGrowIntoTheirForms) {
  expectWritten({
      {"three", "3"},
      {"three thirty", "3:30"},
      {"three thirty p", "3:30 p"},
      {"three thirty p m", "3:30 PM"},
  });
}

TEST(WrittenForms, WhatNoRuleReadsComesOutAsWords) {
  expectWritten({
      {"", ""},
      {"   ", ""},
      {"  odd \t spacing\n here ", "Odd spacing here"},
      {"<unk> [noise] hello", "<unk> [noise] hello"},
      {"café résumé", "Café résumé"},
      {"日本 の 会議", "日本 の 会議"},
      {"twenty-one 'cause", "Twenty-one 'cause"},
      {"thirty", "30"},
      {"hundred thousand", "Hundred thousand"},  // no number before the scale
  });
}

}  // namespace
}  // namespace quillmate::linux_platform
