#include "orvendel/stream_delta.h"

#include <gtest/gtest.h>

namespace orvendel {
namespace {

TEST(StreamDelta, ExtendingTextGivesExactlyWhatWasAdded) {
  EXPECT_EQ(streamDelta("", "Hello"), "Hello");
  EXPECT_EQ(streamDelta("Hello", "Hello, wo"), ", wo");
  EXPECT_EQ(streamDelta("Grüß", "Grüße 😀"), "e 😀");
  EXPECT_EQ(streamDelta("👍", "👍👍🏽"), "👍🏽");
}

TEST(StreamDelta, AnEqualOrEmptySnapshotAddsNothing) {
  EXPECT_EQ(streamDelta("", ""), "");
  EXPECT_EQ(streamDelta("same é", "same é"), "");
}

TEST(StreamDelta, CanonicallyEqualBeginningCountsAsSeen) {
  // Seen with a combining acute, now precomposed.
  EXPECT_EQ(streamDelta("Cafe\u0301", "Caf\u00e9 au lait"), " au lait");
  EXPECT_EQ(streamDelta("Cafe\u0301", "Caf\u00e9"), "");
}

TEST(StreamDelta, AMarkJoiningTheLastCharacterSendsTheAddedBytes) {
  EXPECT_EQ(streamDelta("Cafe", "Cafe\u0301"), "\u0301");
  EXPECT_EQ(streamDelta("Cafe", "Cafe\u0301 noir"), "\u0301 noir");
  EXPECT_EQ(streamDelta("👍", "👍🏽!"), "🏽!");
  EXPECT_EQ(streamDelta("line\r", "line\r\n"), "\n");  // CR LF is one character
}

TEST(StreamDelta, AChangedOrShorterSnapshotIsSentWhole) {
  EXPECT_EQ(streamDelta("Hello there", "Hello"), "Hello");
  EXPECT_EQ(streamDelta("Hello", "Help me"), "Help me");
  EXPECT_EQ(streamDelta("abc", ""), "");
  EXPECT_EQ(streamDelta("Café", "Cafe"), "Cafe");
}

}  // namespace
}  // namespace orvendel
