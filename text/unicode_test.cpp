#include "text/unicode.h"

#include <gtest/gtest.h>

namespace vantrel::text {
namespace {

const char* kPrecomposed = "Caf\xC3\xA9";   // é as one code point
const char* kDecomposed = "Cafe\xCC\x81";   // e + combining acute

TEST(CanonicalEquality, PrecomposedEqualsDecomposedButCaseMatters) {
  EXPECT_TRUE(canonicallyEqual(kPrecomposed, kDecomposed));
  EXPECT_FALSE(canonicallyEqual("Birthdays", "birthdays"));
  EXPECT_FALSE(canonicallyEqual("Cafe", kDecomposed));
}

TEST(Graphemes, CountsUserPerceivedCharacters) {
  EXPECT_EQ(graphemeCount("2024-05-01"), 10u);
  EXPECT_EQ(graphemeCount(kDecomposed), 4u);
  EXPECT_EQ(graphemeCount("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD!"), 2u);  // thumbs up + skin tone
  EXPECT_EQ(graphemeCount("a\r\nb"), 3u);
  EXPECT_EQ(graphemePrefixBytes(kDecomposed, 4), 6u);
  EXPECT_EQ(graphemePrefixBytes("ab", 5), 2u);
}

TEST(Graphemes, BoundaryInsideACombinedCharacterIsNotOne) {
  EXPECT_FALSE(isGraphemeBoundary(kDecomposed, 4));  // between e and the accent
  EXPECT_TRUE(isGraphemeBoundary(kDecomposed, 3));
  EXPECT_FALSE(isGraphemeBoundary("a\r\nb", 2));
  EXPECT_TRUE(isGraphemeBoundary("ab", 1));
}

TEST(Trimming, BlanksLeaveLineBreaks) {
  EXPECT_EQ(trimBlanks(" \t\xC2\xA0" "2024-05-01\xE2\x80\x83 "), "2024-05-01");  // NBSP, em space
  EXPECT_EQ(trimBlanks("\n2024-05-01\n"), "\n2024-05-01\n");
  EXPECT_EQ(trimBlanks("   "), "");
}

TEST(Trimming, WhitespaceAndNewlinesSet) {
  EXPECT_EQ(trimWhitespaceAndNewlines("\r\n\t\v\f\xC2\x85\xE2\x80\xA8\xE2\x80\xA9 hi there \n"), "hi there");
  EXPECT_EQ(trimWhitespaceAndNewlines("\xE2\x80\x8B" "x"), "\xE2\x80\x8B" "x");  // zero-width space is not white space
}

}  // namespace
}  // namespace vantrel::text
