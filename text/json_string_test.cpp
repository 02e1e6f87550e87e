#include "text/json_string.h"

#include <gtest/gtest.h>

namespace vantrel::text {
namespace {

std::string jsonQuoted(std::string_view s) {
  std::string out;
  appendJsonString(out, s);
  return out;
}

TEST(JsonString, EscapesQuoteBackslashAndSolidus) {
  EXPECT_EQ(jsonQuoted(R"(a"b\c/d)"), R"("a\"b\\c\/d")");
}

TEST(JsonString, ShortEscapesForCommonControlCharacters) {
  EXPECT_EQ(jsonQuoted("\b\f\n\r\t"), R"("\b\f\n\r\t")");
}

TEST(JsonString, OtherControlCharactersAsUnicodeEscapes) {
  EXPECT_EQ(jsonQuoted(std::string("\x00\x01\x1f", 3)), R"("\u0000\u0001\u001f")");
}

TEST(JsonString, EscapesAtTheEndsAndInARowBetweenPlainRuns) {
  EXPECT_EQ(jsonQuoted(""), R"("")");
  EXPECT_EQ(jsonQuoted("\"\"x//\n"), R"("\"\"x\/\/\n")");
  EXPECT_EQ(jsonQuoted(std::string("\x00" "ab" "\x00", 4)), R"("\u0000ab\u0000")");
}

TEST(JsonString, NonAsciiAndDeleteStayAsBytes) {
  EXPECT_EQ(jsonQuoted("Caf\xC3\xA9 \xF0\x9F\x98\x80 \x7f"), "\"Caf\xC3\xA9 \xF0\x9F\x98\x80 \x7f\"");
}

}  // namespace
}  // namespace vantrel::text
