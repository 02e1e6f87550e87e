#include "orvendel/wire.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/request_file.h"
#include "orvendel/helper_error.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

std::string decodeError(const std::string& json) {
  try {
    decodeChatRequest(json, "r.json");
  } catch (const RequestDecodeError& e) {
    return e.what();
  }
  return "decoded";
}

TEST(ReadChatRequest, ReadsEveryMemberAndIgnoresOthersAtEveryLevel) {
  TempRequest file(R"({"systemPrompt":"Be brief.","userMessage":" Hi ","extra":{"a":[1,null]},
    "history":[{"role":"user","content":"a/b","id":7},{"role":"assistant","content":"","when":null}]})");
  ChatRequest request = readChatRequest(file.path());
  EXPECT_EQ(request.systemPrompt, "Be brief.");
  EXPECT_EQ(request.userMessage, " Hi ");
  ASSERT_EQ(request.history.size(), 2u);
  EXPECT_EQ(request.history[0].role, "user");
  EXPECT_EQ(request.history[0].content, "a/b");
  EXPECT_EQ(request.history[1].role, "assistant");
  EXPECT_EQ(request.history[1].content, "");
}

TEST(ReadChatRequest, NullAndMissingSystemPromptAreBothNone) {
  EXPECT_EQ(decodeChatRequest(R"({"systemPrompt":null,"userMessage":"x","history":[]})", "r").systemPrompt,
            std::nullopt);
  ChatRequest request = decodeChatRequest(R"({"userMessage":"","history":[]})", "r");
  EXPECT_EQ(request.systemPrompt, std::nullopt);
  EXPECT_EQ(request.userMessage, "");
  EXPECT_TRUE(request.history.empty());
}

TEST(ReadChatRequest, WrongShapesNameTheFileAndTheProblem) {
  const std::string prefix = "Invalid request file r.json: ";
  EXPECT_EQ(decodeError(R"({"userMessage":"x"})"), prefix + "member \"history\" is missing");
  EXPECT_EQ(decodeError(R"({"history":[]})"), prefix + "member \"userMessage\" is missing");
  EXPECT_EQ(decodeError(R"({"userMessage":null,"history":[]})"),
            prefix + "member \"userMessage\" must be a string, not null");
  EXPECT_EQ(decodeError(R"({"userMessage":3,"history":[]})"),
            prefix + "member \"userMessage\" must be a string, not a number");
  EXPECT_EQ(decodeError(R"({"systemPrompt":false,"userMessage":"x","history":[]})"),
            prefix + "member \"systemPrompt\" must be a string, not a boolean");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":{}})"),
            prefix + "member \"history\" must be an array, not an object");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":null})"),
            prefix + "member \"history\" must be an array, not null");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":["hi"]})"),
            prefix + "history element 0: must be an object, not a string");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":[{"role":"user","content":"a"},{"content":"b"}]})"),
            prefix + "history element 1: member \"role\" is missing");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":[{"role":"user"}]})"),
            prefix + "history element 0: member \"content\" is missing");
  EXPECT_EQ(decodeError(R"(["userMessage"])"), prefix + "the top-level value must be an object, not an array");
  EXPECT_EQ(decodeError(""), prefix + "not valid JSON at byte 1: unexpected end of input; expected '[', '{', or a literal");
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":[]} trailing)").rfind(prefix + "not valid JSON", 0), 0u);
  EXPECT_EQ(decodeError("{\"userMessage\":\"\xff\",\"history\":[]}"),
            prefix + "not valid JSON at byte 17: invalid string: ill-formed UTF-8 byte");
  // nlohmann throws a different exception type for this one.
  EXPECT_EQ(decodeError(R"({"userMessage":"x","history":[],"n":1e400})"), prefix + "not valid JSON: a number is out of range");
}

TEST(ReadChatRequest, FileErrorsComeFromTheFileLayer) {
  TempRequest file("{}");
  std::string fifo = file.dir() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(readChatRequest(file.dir() + "/missing.json"), vantrel::RequestFileError);
  EXPECT_THROW(readChatRequest(file.dir()), vantrel::RequestFileError);
  // A FIFO without a writer would block a plain read for good.
  EXPECT_THROW(readChatRequest(fifo), vantrel::RequestFileError);
  ::unlink(fifo.c_str());
}

TEST(EncodeAndPrint, StatusLinesOmitAbsentMembers) {
  RecordingStream out;
  encodeAndPrint(StatusResponse{true, "Apple Intelligence", {"en", "de"}, std::nullopt, std::nullopt}, out);
  encodeAndPrint(StatusResponse{false, "M", {}, std::nullopt, "not ready"}, out);
  encodeAndPrint(StatusResponse{false, "M", {"en", "en"}, -9223372036854775807 - 1, std::nullopt}, out);
  EXPECT_EQ(out.text(),
            "{\"available\":true,\"modelName\":\"Apple Intelligence\",\"supportedLanguages\":[\"en\",\"de\"]}\n"
            "{\"available\":false,\"modelName\":\"M\",\"supportedLanguages\":[],\"reason\":\"not ready\"}\n"
            "{\"available\":false,\"modelName\":\"M\",\"supportedLanguages\":[\"en\",\"en\"],"
            "\"contextSize\":-9223372036854775808}\n");
  EXPECT_TRUE(out.flushes().empty());
}

TEST(EncodeAndPrint, ChatAnswerStaysOnOneLine) {
  RecordingStream out;
  encodeAndPrint(ChatResponse{" a/b \"q\"\n\\ \t\x01 é😀\n"}, out);
  EXPECT_EQ(out.text(), "{\"content\":\" a\\/b \\\"q\\\"\\n\\\\ \\t\\u0001 é😀\\n\"}\n");
}

TEST(EncodeAndPrint, InvalidUtf8IsMalformedAndWritesNothing) {
  RecordingStream out;
  try {
    encodeAndPrint(ChatResponse{"ab\xc3"}, out);
    FAIL() << "no error";
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::malformed);
    EXPECT_EQ(e.message(), "Failed to encode Apple Intelligence response");
  }
  EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace orvendel
