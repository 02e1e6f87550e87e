#include "tallowick/store/icalendar/todo_completion.h"

#include <gtest/gtest.h>

namespace tallowick::ical {
namespace {

const std::string now = "20240601T120000Z";

TEST(TodoCompletion, ChangesOnlyTheCompletionPropertiesAndKeepsEveryOtherByte) {
  const std::string before =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//EN\r\nBEGIN:VTODO\r\nUID:abc\r\n"
      "SUMMARY:A rather long summary that a writer folded over two physical lines of the\r\n  file\r\n"
      "X-APPLE-SORT-ORDER:12\r\nSTATUS:NEEDS-ACTION\r\nSEQUENCE:4\r\nX-UNKNOWN;FOO=\"a:b\":odd value\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nSTATUS:NEEDS-ACTION\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n";
  const std::string expected =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//EN\r\nBEGIN:VTODO\r\nUID:abc\r\n"
      "SUMMARY:A rather long summary that a writer folded over two physical lines of the\r\n  file\r\n"
      "X-APPLE-SORT-ORDER:12\r\nSTATUS:COMPLETED\r\nSEQUENCE:5\r\nX-UNKNOWN;FOO=\"a:b\":odd value\r\n"
      "COMPLETED:20240601T120000Z\r\nPERCENT-COMPLETE:100\r\nLAST-MODIFIED:20240601T120000Z\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nSTATUS:NEEDS-ACTION\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n";
  EXPECT_EQ(completeTodoText(before, 0, now), expected);
}

TEST(TodoCompletion, KeepsLineFeedEndingsAndReplacesFoldedAndDuplicateProperties) {
  const std::string before =
      "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:1\nLAST-MODIFIED:2020\n 0101T000000Z\nPERCENT-COMPLETE:10\n"
      "percent-complete:20\nEND:VTODO\nEND:VCALENDAR";
  const std::string expected =
      "BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:1\nLAST-MODIFIED:20240601T120000Z\nPERCENT-COMPLETE:100\n"
      "STATUS:COMPLETED\nCOMPLETED:20240601T120000Z\nSEQUENCE:1\nEND:VTODO\nEND:VCALENDAR";
  EXPECT_EQ(completeTodoText(before, 0, now), expected);
}

TEST(TodoCompletion, TouchesOnlyTheTodoItIsGiven) {
  const std::string before =
      "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:X\nEND:VTIMEZONE\nBEGIN:VTODO\nUID:1\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:2\nEND:VTODO\nEND:VCALENDAR\n";
  const std::string expected =
      "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:X\nEND:VTIMEZONE\nBEGIN:VTODO\nUID:1\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:2\nSTATUS:COMPLETED\nCOMPLETED:20240601T120000Z\nPERCENT-COMPLETE:100\n"
      "LAST-MODIFIED:20240601T120000Z\nSEQUENCE:1\nEND:VTODO\nEND:VCALENDAR\n";
  EXPECT_EQ(completeTodoText(before, 1, now), expected);
  EXPECT_EQ(completeTodoText(before, 2, now), std::nullopt);
}

TEST(TodoCompletion, SequenceCountsUpWithoutEverWrapping) {
  auto sequenceAfter = [](const std::string& value) {
    std::string out = completeTodoText("BEGIN:VCALENDAR\nBEGIN:VTODO\nSEQUENCE:" + value + "\nEND:VTODO\nEND:VCALENDAR\n",
                                       0, now)
                          .value();
    size_t at = out.find("SEQUENCE:");
    return out.substr(at + 9, out.find('\n', at) - at - 9);
  };
  EXPECT_EQ(sequenceAfter("4"), "5");
  EXPECT_EQ(sequenceAfter("9223372036854775806"), "9223372036854775807");
  EXPECT_EQ(sequenceAfter("9223372036854775807"), "9223372036854775807");
  EXPECT_EQ(sequenceAfter("123456789012345678901234567890"), "123456789012345678901234567890");
  EXPECT_EQ(sequenceAfter("-3"), "1");
  // Digits followed by something else count by their digits, and saturate
  // alike.
  EXPECT_EQ(sequenceAfter("7x"), "8");
  EXPECT_EQ(sequenceAfter("9223372036854775807x"), "9223372036854775807x");
  EXPECT_EQ(sequenceAfter("99999999999999999999 "), "99999999999999999999");
}

TEST(TodoCompletion, FindsComponentsAsLibicalTellsThemApart) {
  // "BEGIN :VTODO" is a todo to libical; a parameter or a blank before the
  // name makes it some other component.
  const std::string text =
      "BEGIN:VCALENDAR\nBEGIN;X=1:VTODO\nUID:0\nEND:VTODO\nBEGIN: VTODO\nUID:1\nEND:VTODO\n"
      "BEGIN :VTODO\nUID:2\nEND:VTODO\nEND:VCALENDAR\n";
  std::string out = completeTodoText(text, 0, now).value();
  EXPECT_EQ(out.substr(0, out.find("STATUS:")), text.substr(0, text.find("UID:2\n") + 6));
  EXPECT_EQ(completeTodoText(text, 1, now), std::nullopt);
}

}  // namespace
}  // namespace tallowick::ical
