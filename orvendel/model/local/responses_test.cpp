#include "orvendel/model/local/responses.h"

#include <gtest/gtest.h>

#include "orvendel/model/local/testdata/scripted_server.h"

namespace orvendel::local {
namespace {

std::string failureOf(std::string_view body) {
  try {
    answerFromCompletion(body);
  } catch (const ModelError& e) {
    return e.what();
  }
  return "no failure";
}

TEST(Responses, AnswerIsTheFirstChoicesMessageContentUnchanged) {
  EXPECT_EQ(answerFromCompletion(scripted::readFile(scripted::testdataPath("llama_server_completion.json"))),
            "  Hello / w\xC3\xB6rld\n");
}

TEST(Responses, BodiesOfTheWrongShapeFail) {
  EXPECT_EQ(failureOf("Hello"), "Local model sent an unexpected response: the body is not JSON");
  EXPECT_EQ(failureOf("[]"), "Local model sent an unexpected response: the body is not a JSON object");
  EXPECT_EQ(failureOf(R"({"choices":[]})"), "Local model sent an unexpected response: no choices");
  EXPECT_EQ(failureOf(R"({"choices":[{"message":{"content":null}}]})"),
            "Local model sent an unexpected response: no text in choices[0].message.content");
  EXPECT_EQ(failureOf(R"({"error":"model 'x' not found"})"), "Local model failed: model 'x' not found");
}

TEST(Responses, AnAnswerStoppedAtTheLengthLimitIsNoAnswer) {
  EXPECT_EQ(failureOf(R"({"choices":[{"finish_reason":"length","index":0,"message":{"role":"assistant","content":"Once upon"}}]})"),
            kCutOffMessage);
  EXPECT_EQ(answerFromCompletion(R"({"choices":[{"finish_reason":"stop","message":{"content":"Done."}}]})"), "Done.");
  EXPECT_EQ(answerFromCompletion(R"({"choices":[{"finish_reason":null,"message":{"content":"Done."}}]})"), "Done.");
}

TEST(Responses, HttpErrorsCarryTheServersMessage) {
  // llama-server, Ollama, a plain-text 404, and an empty body.
  EXPECT_STREQ(httpStatusError(400, R"({"error":{"code":400,"message":"the request exceeds the available context size","type":"invalid_request_error"}})").what(),
               "Local model answered HTTP 400: the request exceeds the available context size");
  EXPECT_STREQ(httpStatusError(404, R"({"error":{"message":"model \"llama9\" not found, try pulling it first","type":"api_error","param":null,"code":null}})").what(),
               "Local model answered HTTP 404: model \"llama9\" not found, try pulling it first");
  EXPECT_STREQ(httpStatusError(404, "404 page not found\n").what(), "Local model answered HTTP 404: 404 page not found");
  EXPECT_STREQ(httpStatusError(500, "").what(), "Local model answered HTTP 500");
}

TEST(Responses, ServerMessagesBecomeOneBoundedLine) {
  EXPECT_EQ(oneLineMessage("a\r\nb\tc \xFF"), "a  b c \xEF\xBF\xBD");
  std::string longText(400, 'x');
  longText += std::string(100, '\xC3');  // lead bytes only: repaired, then cut on a character
  auto line = oneLineMessage(longText);
  EXPECT_LE(line.size(), 503u);
  EXPECT_EQ(line.substr(line.size() - 3), "...");
}

}  // namespace
}  // namespace orvendel::local
