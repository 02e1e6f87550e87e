#include "common/json_failure.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

std::string failureOf(const std::string& text) {
  try {
    nlohmann::json parsed = nlohmann::json::parse(text);
    return "(parsed " + parsed.dump() + ")";
  } catch (const nlohmann::json::exception& e) {
    return describeJsonFailure(e);
  }
}

TEST(JsonFailure, ParseErrorsGiveTheByteAndTheReasonWithoutTheLibrarysTag) {
  EXPECT_EQ(failureOf(""), "not valid JSON at byte 1: unexpected end of input; expected '[', '{', or a literal");
  EXPECT_EQ(failureOf("{\"a\":1,}"), "not valid JSON at byte 8: unexpected '}'; expected string literal");
  EXPECT_EQ(failureOf("-"), "not valid JSON at byte 2: invalid number; expected digit after '-'");
}

TEST(JsonFailure, TheFilesOwnBytesAreNeverQuoted) {
  EXPECT_EQ(failureOf("{\"a\":\"secret \xFF\"}"), "not valid JSON at byte 14: invalid string: ill-formed UTF-8 byte");
  EXPECT_EQ(failureOf("{\"a\":\"b\nc\"}"),
            "not valid JSON at byte 8: invalid string: control character U+000A (LF) must be escaped to \\u000A or \\n");
}

TEST(JsonFailure, ANumberBeyondADoubleIsOutOfRange) {
  EXPECT_EQ(failureOf("{\"priority\":1e400}"), "not valid JSON: a number is out of range");
}

}  // namespace
}  // namespace vantrel
