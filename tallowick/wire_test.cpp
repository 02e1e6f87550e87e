#include "tallowick/wire.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/request_file.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

template <typename T>
std::string encoded(const T& value) {
  std::ostringstream out;
  encode(out, value);
  return out.str();
}

TEST(Encode, EventsAreCompactWithEveryMember) {
  CalendarEventDTO e{"Stand-up", "2024-05-01T09:30:00", "2024-05-01T09:45:00", false, "", "Work", ""};
  EXPECT_EQ(encoded(std::vector<CalendarEventDTO>{e, e}),
            R"([{"title":"Stand-up","startDate":"2024-05-01T09:30:00","endDate":"2024-05-01T09:45:00",)"
            R"("isAllDay":false,"location":"","calendar":"Work","notes":""},)"
            R"({"title":"Stand-up","startDate":"2024-05-01T09:30:00","endDate":"2024-05-01T09:45:00",)"
            R"("isAllDay":false,"location":"","calendar":"Work","notes":""}])"
            "\n");
}

TEST(Encode, RemindersWriteEmptyTextsAndPlainIntegers) {
  ReminderDTO r{"Pay rent", false, -9223372036854775807 - 1, "", "", ""};
  EXPECT_EQ(encoded(std::vector<ReminderDTO>{r}),
            R"([{"title":"Pay rent","completed":false,"priority":-9223372036854775808,"dueDate":"","list":"","notes":""}])"
            "\n");
}

TEST(Encode, EmptyArraysAccessAndSuccessDocuments) {
  EXPECT_EQ(encoded(std::vector<CalendarEventDTO>{}), "[]\n");
  EXPECT_EQ(encoded(std::vector<ReminderDTO>{}), "[]\n");
  EXPECT_EQ(encoded(std::vector<std::string>{}), "[]\n");
  EXPECT_EQ(encoded(AccessResponseDTO{true}), "{\"granted\":true}\n");
  EXPECT_EQ(encoded(AccessResponseDTO{false}), "{\"granted\":false}\n");
  std::string success = encoded(successDocument());
  EXPECT_EQ(success, "{\"ok\":true}\n");
  EXPECT_EQ(success.size(), 12u);  // eleven bytes and the line feed
}

TEST(Encode, StringsEscapeSolidusQuotesAndControlsButKeepUtf8) {
  EXPECT_EQ(encoded(std::vector<std::string>{"a/b", "say \"hi\"", "back\\slash"}),
            R"(["a\/b","say \"hi\"","back\\slash"])"
            "\n");
  EXPECT_EQ(encoded(std::vector<std::string>{std::string("\n\r\t\b\f\x01\x1f\x7f", 8)}),
            "[\"\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"]\n");
  EXPECT_EQ(encoded(std::vector<std::string>{"Caf\u00e9 \u2603 \U0001F600"}), "[\"Caf\u00e9 \u2603 \U0001F600\"]\n");
}

TEST(Encode, InvalidUtf8IsRefusedAndNothingWritten) {
  std::ostringstream out;
  auto message = testing::helperMessage([&] { encode(out, std::vector<std::string>{"ok", "bad \xff"}); });
  EXPECT_EQ(message, "Failed to encode response");
  EXPECT_EQ(out.str(), "");
  try {
    encode(out, std::vector<ReminderDTO>{{"\xc3", false, 0, "", "", ""}});
    FAIL();
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::runtime);
  }
}

// A listing bigger than one write comes out as one document, the same bytes
// as a short one joined; an invalid text anywhere, even past the first
// megabyte, stops it before anything is written.
TEST(EventListWriter, LongListingsAreOneDocumentAndCheckedBeforeTheFirstByte) {
  CalendarEventDTO e{"Stand-up \"daily\"", "2024-05-01T09:30:00", "2024-05-01T09:45:00", true, "Room/1", "Work",
                     "n\tb"};
  std::string one = encoded(std::vector<CalendarEventDTO>{e});
  std::vector<CalendarEventDTO> many(20000, e);
  std::string all = encoded(many);
  ASSERT_GT(all.size(), 2u << 20);
  std::string expected = "[";
  for (size_t i = 0; i < many.size(); ++i) {
    if (i) expected += ',';  // not "," + substr: GCC 12 at -O3 warns (-Wrestrict) about that temporary
    expected += one.substr(1, one.size() - 3);
  }
  EXPECT_EQ(all, expected + "]\n");

  many.back().notes = "bad \xc3";
  std::ostringstream out;
  EXPECT_EQ(testing::helperMessage([&] { encode(out, many); }), "Failed to encode response");
  EXPECT_EQ(out.str(), "");
}

std::string decodeError(const std::string& json) {
  try {
    decodeAddReminderRequest(json, "r.json");
  } catch (const RequestDecodeError& e) {
    return e.what();
  }
  return "(decoded)";
}

TEST(AddReminderRequestDecoding, OptionalMembersMissingOrNullAreAbsent) {
  auto r = decodeAddReminderRequest(R"({"title":"T","listName":"L","priority":5,"dueDate":null})", "r.json");
  EXPECT_EQ(r.title, "T");
  EXPECT_EQ(r.listName, "L");
  EXPECT_EQ(r.priority, 5);
  EXPECT_EQ(r.dueDate, std::nullopt);
  EXPECT_EQ(r.notes, std::nullopt);

  auto full = decodeAddReminderRequest(
      R"({"notes":"","dueDate":"2024-05-01","priority":-3,"listName":"","title":"","extra":{"x":[1]}})", "r.json");
  EXPECT_EQ(full.notes, "");
  EXPECT_EQ(full.dueDate, "2024-05-01");
  EXPECT_EQ(full.priority, -3);
}

TEST(AddReminderRequestDecoding, RequiredMembersMustBePresentAndTyped) {
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L"})"), R"(Invalid request file r.json: member "priority" is missing)");
  EXPECT_EQ(decodeError(R"({"listName":"L","priority":1})"), R"(Invalid request file r.json: member "title" is missing)");
  EXPECT_EQ(decodeError(R"({"title":null,"listName":"L","priority":1})"),
            R"(Invalid request file r.json: member "title" must be a string, not null)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":7,"priority":1})"),
            R"(Invalid request file r.json: member "listName" must be a string, not a number)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":1,"notes":false})"),
            R"(Invalid request file r.json: member "notes" must be a string, not a boolean)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":"1"})"),
            R"(Invalid request file r.json: member "priority" must be an integer, not a string)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":null})"),
            R"(Invalid request file r.json: member "priority" must be an integer, not null)");
}

TEST(AddReminderRequestDecoding, PriorityIsAnySixtyFourBitInteger) {
  auto priority = [](const std::string& value) {
    return decodeAddReminderRequest(R"({"title":"T","listName":"L","priority":)" + value + "}", "r.json").priority;
  };
  EXPECT_EQ(priority("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(priority("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(priority("0"), 0);
  // Whole numbers written with a fraction or exponent are integers, as in
  // Foundation's decoder.
  EXPECT_EQ(priority("2.0"), 2);
  EXPECT_EQ(priority("1e2"), 100);
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":1.5})"),
            R"(Invalid request file r.json: member "priority" must be an integer)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":9223372036854775808})"),
            R"(Invalid request file r.json: member "priority" does not fit a 64-bit integer)");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":-1e19})"),
            R"(Invalid request file r.json: member "priority" does not fit a 64-bit integer)");
}

TEST(AddReminderRequestDecoding, NotJsonOrNotAnObjectIsOneLine) {
  std::string notJson = decodeError("{\"title\":\n\"T\",");
  EXPECT_EQ(notJson.rfind("Invalid request file r.json: not valid JSON at byte ", 0), 0u) << notJson;
  EXPECT_EQ(notJson.find('\n'), std::string::npos);
  EXPECT_EQ(decodeError("[1]"), "Invalid request file r.json: the top level must be an object, not an array");
  EXPECT_EQ(decodeError("").rfind("Invalid request file r.json: not valid JSON at byte 1: ", 0), 0u);
  EXPECT_EQ(decodeError("{\"title\":\"\xff\",\"listName\":\"L\",\"priority\":1}"),
            "Invalid request file r.json: not valid JSON at byte 11: invalid string: ill-formed UTF-8 byte");
  EXPECT_EQ(decodeError(R"({"title":"T","listName":"L","priority":1e400})"),
            "Invalid request file r.json: not valid JSON: a number is out of range");
}

TEST(CompleteReminderRequestDecoding, TitleAndListNameAreRequiredTexts) {
  auto r = decodeCompleteReminderRequest(R"({"title":"Milk","listName":"Shopping","priority":"ignored"})", "c.json");
  EXPECT_EQ(r.title, "Milk");
  EXPECT_EQ(r.listName, "Shopping");
  try {
    decodeCompleteReminderRequest(R"({"title":42,"listName":"Shopping"})", "c.json");
    FAIL();
  } catch (const RequestDecodeError& e) {
    EXPECT_STREQ(e.what(), R"(Invalid request file c.json: member "title" must be a string, not a number)");
  }
}

TEST(RequestReading, FileErrorsPassThroughAndTheFileIsDecoded) {
  EXPECT_THROW(readCompleteReminderRequest("/nonexistent/c.json"), vantrel::RequestFileError);
  EXPECT_THROW(readAddReminderRequest("/dev/null"), vantrel::RequestFileError);
  testing::TempFile file(R"({"title":"A","listName":"B"})");
  EXPECT_EQ(readCompleteReminderRequest(file.path()).listName, "B");
  try {
    readAddReminderRequest(file.path());
    FAIL();
  } catch (const RequestDecodeError& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid request file " + file.path() + ": member \"priority\" is missing");
  }
}

}  // namespace
}  // namespace tallowick
