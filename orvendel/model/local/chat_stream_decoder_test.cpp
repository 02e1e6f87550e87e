#include "orvendel/model/local/chat_stream_decoder.h"

#include <gtest/gtest.h>

#include "orvendel/model/language_model.h"
#include "orvendel/model/local/responses.h"
#include "orvendel/model/local/testdata/scripted_server.h"

namespace orvendel::local {
namespace {

using Snapshots = std::vector<std::string>;

// Feeds `pieces` and finishes; returns the snapshots, or the error text.
Snapshots decode(const std::vector<std::string>& pieces, std::string* error = nullptr) {
  ChatStreamDecoder decoder;
  Snapshots snapshots;
  try {
    for (const auto& piece : pieces) {
      decoder.feed(piece);
      while (auto s = decoder.takeSnapshot()) snapshots.push_back(*s);
    }
    decoder.finish();
    while (auto s = decoder.takeSnapshot()) snapshots.push_back(*s);
  } catch (const ModelError& e) {
    if (error) *error = e.what();
    return snapshots;
  }
  if (error) *error = "";
  return snapshots;
}

const Snapshots kHelloWorld = {"Hello", "Hello, w\xC3\xB6rld", "Hello, w\xC3\xB6rld \xE2\x80\x94 \xF0\x9F\x91\x8B"};

TEST(ChatStreamDecoder, LlamaServerStreamAtEverySplitPoint) {
  std::string body = scripted::readFile(scripted::testdataPath("llama_server_stream.sse"));
  EXPECT_EQ(decode({body}), kHelloWorld);
  // Cutting anywhere, inside an event or a UTF-8 character, changes nothing.
  for (size_t cut = 1; cut < body.size(); ++cut) {
    std::string error;
    ASSERT_EQ(decode({body.substr(0, cut), body.substr(cut)}, &error), kHelloWorld) << cut;
    ASSERT_EQ(error, "") << cut;
  }
  std::vector<std::string> bytes;
  for (char c : body) bytes.emplace_back(1, c);
  EXPECT_EQ(decode(bytes), kHelloWorld);
}

TEST(ChatStreamDecoder, OllamaChunksWithRoleEverywhereAndFinishOnTheLastContent) {
  EXPECT_EQ(decode({scripted::readFile(scripted::testdataPath("ollama_stream.sse"))}),
            (Snapshots{"Hello", "Hello, w\xC3\xB6rld", "Hello, w\xC3\xB6rld!"}));
}

TEST(ChatStreamDecoder, ReasoningIsNotPartOfTheAnswer) {
  EXPECT_EQ(decode({scripted::readFile(scripted::testdataPath("llama_server_reasoning.sse"))}),
            (Snapshots{"Hi", "Hi there"}));
  EXPECT_EQ(decode({"data: {\"choices\":[{\"delta\":{\"reasoning\":\"hmm\"}}]}\n\n", "data: [DONE]\n\n"}),
            Snapshots{});
}

TEST(ChatStreamDecoder, CommentsCrLfAndChunksWithoutTextAddNothing) {
  std::string error;
  auto snapshots = decode({": keep-alive\r\n\r\n", "data: {\"choices\":[{\"delta\":{\"content\":\"a\"}}]}\r",
                           "\n\r\n:\n\n", "data: {\"choices\":[],\"usage\":{}}\n\n",
                           "data: {\"choices\":[{\"delta\":{\"content\":\"\"}}]}\n\n",
                           "data:{\"choices\":[{\"delta\":{\"content\":\"b\"}}]}\r\rdata: [DONE]\r\r"},
                          &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(snapshots, (Snapshots{"a", "ab"}));
}

TEST(ChatStreamDecoder, BytesAfterDoneAreIgnored) {
  std::string error;
  EXPECT_EQ(decode({"data: [DONE]\n\ndata: {\"choices\":[{\"delta\":{\"content\":\"late\"}}]}\n\n", "garbage"}, &error),
            Snapshots{});
  EXPECT_EQ(error, "");
}

TEST(ChatStreamDecoder, ErrorsCarryTheServersMessage) {
  std::string error;
  auto snapshots = decode({scripted::readFile(scripted::testdataPath("llama_server_error_event.sse"))}, &error);
  EXPECT_EQ(snapshots, Snapshots{"Once upon"});
  EXPECT_EQ(error, "Local model failed: the KV cache is full");

  snapshots = decode({scripted::readFile(scripted::testdataPath("ollama_error_event.sse"))}, &error);
  EXPECT_EQ(snapshots, Snapshots{"Once upon"});
  EXPECT_EQ(error, "Local model failed: model runner has unexpectedly stopped");

  // A JSON error body that is no event stream at all.
  decode({R"({"error":{"message":"context size\nexceeded"}})"}, &error);
  EXPECT_EQ(error, "Local model failed: context size exceeded");
}

TEST(ChatStreamDecoder, AnAnswerWithoutDoneIsCutOff) {
  std::string error;
  auto snapshots = decode({"data: {\"choices\":[{\"delta\":{\"content\":\"Hal\"}}]}\n\n", "data: {\"choi"}, &error);
  EXPECT_EQ(snapshots, Snapshots{"Hal"});
  EXPECT_EQ(error, "Local model's answer was cut off: the stream ended without [DONE]");
  decode({}, &error);
  EXPECT_EQ(error, "Local model ended the answer without sending anything");
}

TEST(ChatStreamDecoder, AnAnswerStoppedAtTheLengthLimitFailsAfterItsText) {
  // llama-server sends the reason in a chunk of its own, Ollama with the last
  // text; both then end with [DONE] as if all were well.
  for (const char* name : {"llama_server_length.sse", "ollama_length.sse"}) {
    std::string error;
    EXPECT_EQ(decode({scripted::readFile(scripted::testdataPath(name))}, &error),
              (Snapshots{"Once upon", "Once upon a time"}))
        << name;
    EXPECT_EQ(error, kCutOffMessage) << name;
  }
  std::string error;
  EXPECT_EQ(decode({"data: {\"choices\":[{\"delta\":{\"content\":\"a\"},\"finish_reason\":\"stop\"}]}\n\n"
                    "data: [DONE]\n\n"},
                   &error),
            Snapshots{"a"});
  EXPECT_EQ(error, "");
}

TEST(ChatStreamDecoder, EventsThatAreNotChunksFail) {
  std::string error;
  decode({"data: {not json}\n\n"}, &error);
  EXPECT_EQ(error, "Local model sent an unexpected stream event: not a JSON object");
  decode({"data: {\"choices\":[{\"delta\":{\"content\":7}}]}\n\n"}, &error);
  EXPECT_EQ(error, "Local model sent an unexpected stream event: delta.content is not text");
  decode({"<html>oops</html>"}, &error);
  EXPECT_EQ(error, "Local model sent an unexpected response: not an event stream");
}

TEST(ChatStreamDecoder, OneEventIsBoundedAndTheErrorSaysSo) {
  const std::string kTooLarge =
      "Local model sent an unexpected stream event: one event is larger than 16 MiB, the most this helper accepts";
  const std::string piece(1 << 16, 'x');
  // A line that never ends, and an event of many lines that never ends: each
  // is refused once it passes the bound, not when the body is over.
  for (const std::string& repeated : {piece, "data: " + piece + "\n"}) {
    ChatStreamDecoder decoder;
    decoder.feed("data: {\"choices\":[{\"delta\":{\"content\":\"");
    size_t fed = 0;
    while (!decoder.done() && fed <= 2 * kMaxEventBytes) {
      decoder.feed(repeated);
      fed += repeated.size();
    }
    EXPECT_LE(fed, kMaxEventBytes + repeated.size());
    try {
      decoder.takeSnapshot();
      ADD_FAILURE() << "no error";
    } catch (const ModelError& e) {
      EXPECT_EQ(e.what(), kTooLarge);
    }
  }
  // Well below the bound, a large event is an ordinary one.
  std::string big(4 << 20, 'y');
  EXPECT_EQ(decode({"data: {\"choices\":[{\"delta\":{\"content\":\"" + big + "\"}}]}\n\ndata: [DONE]\n\n"}),
            Snapshots{big});
}

TEST(ChatStreamDecoder, InvalidBytesInAnEventAreRepaired) {
  EXPECT_EQ(decode({"data: {\"choices\":[{\"delta\":{\"content\":\"a\xFF\"}}]}\n\ndata: [DONE]\n\n"}),
            Snapshots{"a\xEF\xBF\xBD"});
}

}  // namespace
}  // namespace orvendel::local
