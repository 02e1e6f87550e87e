#include "orvendel/session.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "orvendel/fake_model.h"

namespace orvendel {
namespace {

using Kind = TranscriptEntry::Kind;

struct Built {
  FakeModelPlatform platform;
  const FakeSessionRecord& record() { return *platform.model.sessions.at(0); }
};

// The (kind, text) pairs of the transcript the fake model received.
std::vector<std::pair<Kind, std::string>> shape(const FakeSessionRecord& record) {
  std::vector<std::pair<Kind, std::string>> result;
  for (const TranscriptEntry& entry : record.transcript.entries) {
    EXPECT_EQ(entry.segments.size(), 1u);
    result.emplace_back(entry.kind, entry.segments.at(0).content);
  }
  return result;
}

const FakeSessionRecord& build(FakeModelPlatform& platform, std::optional<std::string> systemPrompt,
                               std::vector<HistoryMessage> history) {
  makeSession(platform, systemPrompt, history);
  EXPECT_EQ(platform.model.sessions.size(), 1u);
  return *platform.model.sessions.at(0);
}

TEST(MakeSession, WithoutUsableEntriesThePromptGoesOnAsReceived) {
  FakeModelPlatform none, blank;
  const FakeSessionRecord& absent = build(none, std::nullopt, {{"user", " \n"}, {"system", "x"}});
  EXPECT_FALSE(absent.fromTranscript);
  EXPECT_EQ(absent.instructions, std::nullopt);
  const FakeSessionRecord& untrimmed = build(blank, " \n\t ", {});
  EXPECT_FALSE(untrimmed.fromTranscript);
  EXPECT_EQ(untrimmed.instructions, " \n\t ");
}

TEST(MakeSession, SystemPromptBecomesATrimmedInstructionsEntry) {
  FakeModelPlatform platform;
  const FakeSessionRecord& record = build(platform, "  Be brief.  ", {});
  ASSERT_TRUE(record.fromTranscript);
  EXPECT_EQ(shape(record), (std::vector<std::pair<Kind, std::string>>{{Kind::instructions, "Be brief."}}));
}

TEST(MakeSession, TurnsBecomePromptAndResponseEntriesInOrder) {
  FakeModelPlatform platform;
  const FakeSessionRecord& record =
      build(platform, "  ", {{"user", " one  two\n"}, {"user", "again"}, {"assistant", "\tanswer "}, {"user", "last"}});
  ASSERT_TRUE(record.fromTranscript);
  EXPECT_EQ(shape(record), (std::vector<std::pair<Kind, std::string>>{
                               {Kind::prompt, "one  two"}, {Kind::prompt, "again"},
                               {Kind::response, "answer"}, {Kind::prompt, "last"}}));
  const GenerationOptions& options = record.transcript.entries[0].options;
  EXPECT_FALSE(options.samplingMode || options.temperature || options.maximumResponseTokens);
}

TEST(MakeSession, OtherRolesAndBlankContentsAreDropped) {
  FakeModelPlatform platform;
  const FakeSessionRecord& record = build(platform, std::nullopt,
                                          {{"User", "a"}, {" user", "b"}, {"assistant ", "c"}, {"system", "d"},
                                           {"tool", "e"}, {"", "f"}, {"user", ""}, {"assistant", " \r\n"},
                                           {"user", "kept"}});
  EXPECT_EQ(shape(record), (std::vector<std::pair<Kind, std::string>>{{Kind::prompt, "kept"}}));
}

TEST(MakeSession, TrimsUnicodeWhiteSpaceAndLineBreaksOnly) {
  // No-break space, ideographic space, NEL, line and paragraph separators,
  // vertical tab and form feed go; a zero-width space is no white space.
  FakeModelPlatform platform;
  const FakeSessionRecord& record =
      build(platform, std::nullopt,
            {{"user", "\u00a0\u3000\u0085\u2028x y\u2029\v\f"}, {"assistant", "\u200bz\u200b"},
             {"user", "\u00a0\u2028\u3000"}});
  EXPECT_EQ(shape(record), (std::vector<std::pair<Kind, std::string>>{{Kind::prompt, "x y"},
                                                                      {Kind::response, "\u200bz\u200b"}}));
}

TEST(MakeSession, KeepsEveryMessageOfALongHistory) {
  FakeModelPlatform platform;
  std::vector<HistoryMessage> history;
  for (int i = 0; i < 600; ++i) history.push_back({i % 2 ? "assistant" : "user", std::string(1000, 'a' + i % 26)});
  const FakeSessionRecord& record = build(platform, "sys", history);
  ASSERT_EQ(record.transcript.entries.size(), 601u);
  EXPECT_EQ(record.transcript.entries.back().kind, Kind::response);
  EXPECT_EQ(record.transcript.entries.back().segments[0].content, std::string(1000, 'a' + 599 % 26));
}

// 8-4-4-4-12 upper-case hex digits, version 4, RFC 4122 variant.
bool isUpperCaseV4Uuid(const std::string& id) {
  if (id.size() != 36) return false;
  for (size_t i = 0; i < id.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    char c = id[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return id[14] == '4' && std::string_view("89AB").find(id[19]) != std::string_view::npos;
}

TEST(MakeSession, EveryEntryAndSegmentGetsItsOwnUuid) {
  FakeModelPlatform platform;
  const FakeSessionRecord& record = build(platform, "sys", {{"user", "a"}, {"assistant", "b"}});
  std::set<std::string> ids;
  for (const TranscriptEntry& entry : record.transcript.entries) {
    ids.insert(entry.id);
    ids.insert(entry.segments.at(0).id);
  }
  EXPECT_EQ(ids.size(), 6u);
  for (const std::string& id : ids) EXPECT_TRUE(isUpperCaseV4Uuid(id)) << id;
}

}  // namespace
}  // namespace orvendel
