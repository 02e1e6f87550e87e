#include "text/utf8.h"

#include <gtest/gtest.h>

namespace vantrel::text {
namespace {

TEST(Utf8, AcceptsWellFormedText) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
}

TEST(Utf8, RejectsOverlongsSurrogatesAndTruncation) {
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong solidus
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("ab\xE2\x82"));        // cut at the end
  EXPECT_FALSE(isValidUtf8("\x80"));
}

TEST(Utf8, ABadByteIsFoundAtAnyPositionOfALongText) {
  for (size_t at = 0; at < 40; ++at) {
    std::string text(40, 'a');
    EXPECT_TRUE(isValidUtf8(text));
    text[at] = '\xFF';
    EXPECT_FALSE(isValidUtf8(text)) << at;
    text.replace(at, 1, "\xC3\xA9");
    EXPECT_TRUE(isValidUtf8(text)) << at;
  }
}

TEST(Utf8, RepairReplacesEachMaximalBadSubsequence) {
  EXPECT_EQ(repairUtf8("a\xE2\x82z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(repairUtf8("\xFF\xFE"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("ok \xC3\xA9"), "ok \xC3\xA9");
}

}  // namespace
}  // namespace vantrel::text
