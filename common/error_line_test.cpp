#include "common/error_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vantrel {
namespace {

TEST(OneLine, CleanTextIsKeptByteForByte) {
  EXPECT_EQ(oneLine("Unknown subcommand: Caf\xC3\xA9\tx "), "Unknown subcommand: Caf\xC3\xA9\tx ");
}

TEST(OneLine, LineBreaksOfEveryKindBecomeSpaces) {
  EXPECT_EQ(oneLine("a\nb\r\nc\vd\fe"), "a b  c d e");
  EXPECT_EQ(oneLine("a\xC2\x85" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d"), "a b c d");
}

TEST(OneLine, OtherControlsAndBrokenBytesBecomeReplacementCharacters) {
  EXPECT_EQ(oneLine("\x1B[31mred\x7F"), "\xEF\xBF\xBD[31mred\xEF\xBF\xBD");
  EXPECT_EQ(oneLine("C1 \xC2\x9B" "x"), "C1 \xEF\xBF\xBDx");
  EXPECT_EQ(oneLine("bad \xFF\xC3 end"), "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
  // U+2026 shares its first two bytes with the separators and stays.
  EXPECT_EQ(oneLine("\xE2\x80\xA6"), "\xE2\x80\xA6");
}

TEST(OneLine, NothingToSayBecomesAFallback) {
  EXPECT_EQ(oneLine(""), "Unknown error");
  EXPECT_EQ(oneLine("\n \r"), "Unknown error");
}

TEST(DescribeError, WhatOfAnyExceptionMadeOneLine) {
  EXPECT_EQ(describeError(std::make_exception_ptr(std::runtime_error("Date must be YYYY-MM-DD: ab\ncd"))),
            "Date must be YYYY-MM-DD: ab cd");
  EXPECT_EQ(describeError(std::make_exception_ptr(42)), "Unknown error");
}

}  // namespace
}  // namespace vantrel
