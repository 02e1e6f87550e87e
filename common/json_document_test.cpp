#include "common/json_document.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

constexpr size_t kMillion = 1'000'000;

std::string repeat(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// What parsing `text` gives: "ok" or the failure's line. Both flavours and
// both value types must agree.
std::string outcome(const std::string& text) {
  std::string result;
  try {
    nlohmann::json parsed = parseJsonDocument(text);
    nlohmann::json copy = parsed;  // recursion over what was accepted stays shallow
    result = copy == parsed ? "ok" : "(copy differs)";
  } catch (const JsonParseError& e) {
    result = e.what();
  }
  std::string ordered;
  try {
    parseJsonDocument<nlohmann::ordered_json>(text);
    ordered = "ok";
  } catch (const JsonParseError& e) {
    ordered = e.what();
  }
  EXPECT_EQ(ordered, result);
  EXPECT_EQ(parseJsonDocumentOrDiscarded(text).is_discarded(), result != "ok");
  EXPECT_EQ(parseJsonDocumentOrDiscarded<nlohmann::ordered_json>(text).is_discarded(), result != "ok");
  return result;
}

TEST(JsonDocument, NestingIsLimitedAt512LevelsOutsideStrings) {
  const std::string tooDeep = ": nested more than 512 levels deep";
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"512 arrays", repeat("[", 512) + repeat("]", 512), "ok"},
      {"512 objects", repeat("{\"a\":", 511) + "{}" + repeat("}", 511), "ok"},
      {"513 arrays", repeat("[", 513) + repeat("]", 513), "not valid JSON at byte 513" + tooDeep},
      {"a million arrays, unclosed", repeat("[", kMillion), "not valid JSON at byte 513" + tooDeep},
      {"a million arrays", repeat("[", kMillion) + repeat("]", kMillion), "not valid JSON at byte 513" + tooDeep},
      {"a million objects", repeat("{\"a\":", kMillion) + "1" + repeat("}", kMillion),
       "not valid JSON at byte 2561" + tooDeep},
      {"a million of both inside a member", "{\"x\":" + repeat("[{\"k\":", kMillion / 2),
       "not valid JSON at byte 1537" + tooDeep},
      {"closed levels do not count", repeat("[[],", kMillion) + repeat("]", kMillion),
       "not valid JSON at byte 2046" + tooDeep},
      {"a million brackets inside a string", "[\"" + repeat("[{", kMillion) + "\"]", "ok"},
      {"an escaped quote does not end the string", "[\"\\\"" + repeat("[", kMillion) + "\"]", "ok"},
      {"an escaped backslash does", "[\"\\\\\"," + repeat("[", kMillion), "not valid JSON at byte 518" + tooDeep},
      // A fault before the level too many is reported as the parser finds it.
      {"an earlier syntax error", "[1,," + repeat("[", kMillion),
       "not valid JSON at byte 4: unexpected ','; expected '[', '{', or a literal"},
      {"an earlier number out of range", "[1e400," + repeat("[", kMillion), "not valid JSON: a number is out of range"},
      {"a broken literal just before the level too many", repeat("[", 512) + "tru" + repeat("[", kMillion),
       "not valid JSON at byte 516" + tooDeep},
      {"plain faults keep the parser's words", "{\"a\":1,}", "not valid JSON at byte 8: unexpected '}'; expected string literal"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.text), c.expected) << c.name;
}

}  // namespace
}  // namespace vantrel
