#include "orvendel/model/local/chat_messages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvendel::local {
namespace {

TranscriptEntry entry(TranscriptEntry::Kind kind, std::vector<std::string> texts) {
  TranscriptEntry result{kind, "id", {}, {}};
  for (auto& text : texts) result.segments.push_back({"seg", text});
  return result;
}

TEST(ChatMessages, TranscriptEntriesBecomeRolesInOrder) {
  using Kind = TranscriptEntry::Kind;
  Transcript transcript{{entry(Kind::instructions, {"Be brief."}), entry(Kind::prompt, {"Hi"}),
                         entry(Kind::response, {"Hello", "there"}), entry(Kind::prompt, {"Again"})}};
  auto body = nlohmann::json::parse(chatCompletionBody(messagesFromTranscript(transcript), "Now", std::nullopt, {}, true));
  EXPECT_EQ(body["messages"], nlohmann::json::parse(R"([
    {"role":"system","content":"Be brief."}, {"role":"user","content":"Hi"},
    {"role":"assistant","content":"Hello\nthere"}, {"role":"user","content":"Again"},
    {"role":"user","content":"Now"}])"));
  EXPECT_EQ(body["stream"], true);
  EXPECT_FALSE(body.contains("model"));
  EXPECT_FALSE(body.contains("temperature"));
  EXPECT_FALSE(body.contains("max_tokens"));
}

TEST(ChatMessages, InstructionsBecomeOneSystemMessageUnlessBlank) {
  EXPECT_TRUE(messagesFromInstructions(std::nullopt).empty());
  EXPECT_TRUE(messagesFromInstructions(" \n\t").empty());
  auto messages = messagesFromInstructions("  Answer in German. ");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].role, "system");
  EXPECT_EQ(messages[0].content, "  Answer in German. ");
}

TEST(ChatMessages, ModelAndOptionsAreSentWhenSet) {
  GenerationOptions options{std::nullopt, 0.5, 64};
  auto body = nlohmann::json::parse(chatCompletionBody({}, "Hi", "llama3.2", options, false));
  EXPECT_EQ(body["model"], "llama3.2");
  EXPECT_EQ(body["stream"], false);
  EXPECT_EQ(body["temperature"], 0.5);
  EXPECT_EQ(body["max_tokens"], 64);
  EXPECT_EQ(body["messages"].size(), 1u);
}

}  // namespace
}  // namespace orvendel::local
