#include "tallowick/store/vdir/summary_cache.h"

#include <gtest/gtest.h>

#include "tallowick/store/vdir/memory_env.h"

namespace tallowick::ical {
namespace {

FileSummary spanning(int64_t first, int64_t last) { return FileSummary{true, false, true, false, false, first, last, {}}; }

class SummaryCacheTest : public ::testing::Test {
 protected:
  std::string file() const { return "/cache/index"; }
  std::string readFile(const std::string& path) const { return env.contents(path).value_or(""); }
  testing::MemoryEnv env;
  const FileStamp one{10, 1, 1, 7}, two{10, 1, 2, 7};
};

TEST_F(SummaryCacheTest, FindsEntriesInAnyOrderOnlyUnderTheirStamp) {
  {
    SummaryCache cache(env, file(), "/root");
    cache.record("b/2.ics", one, spanning(2, 2));
    cache.record("a/1.ics", one, spanning(1, 1));
    cache.record("c/3.ics", one, spanning(3, 3));
    cache.save(true);
  }
  SummaryCache cache(env, file(), "/root");
  for (const char* path : {"c/3.ics", "a/1.ics", "b/2.ics", "a/1.ics"}) {
    const FileSummary* found = cache.find(path, one);
    ASSERT_NE(found, nullptr) << path;
    EXPECT_EQ(found->firstStart, path[0] - 'a' + 1);
  }
  EXPECT_EQ(cache.find("b/2.ics", two), nullptr);  // only the ctime differs
  EXPECT_EQ(cache.find("d/4.ics", one), nullptr);
  EXPECT_EQ(SummaryCache(env, file(), "/elsewhere").find("a/1.ics", one), nullptr);
}

TEST_F(SummaryCacheTest, SavingKeepsWhatWasSeenOrReplacedAndDropsTheRestAfterAFullVisit) {
  {
    SummaryCache cache(env, file(), "/root");
    for (const char* path : {"a/1.ics", "a/2.ics", "a/3.ics"}) cache.record(path, one, spanning(1, 1));
    cache.save(true);
  }
  {
    SummaryCache partial(env, file(), "/root");
    ASSERT_NE(partial.find("a/1.ics", one), nullptr);
    partial.record("a/2.ics", two, spanning(5, 5));
    partial.save(false);  // a/3.ics was not looked at: kept
  }
  SummaryCache cache(env, file(), "/root");
  ASSERT_NE(cache.find("a/3.ics", one), nullptr);
  EXPECT_EQ(cache.find("a/2.ics", one), nullptr);
  ASSERT_NE(cache.find("a/2.ics", two), nullptr);
  EXPECT_EQ(cache.find("a/2.ics", two)->firstStart, 5);
  cache.save(true);  // a/1.ics was not looked up in this visit: gone
  const std::string text = readFile(file());
  EXPECT_EQ(text.find("a/1.ics"), std::string::npos);
  EXPECT_NE(text.find("a/2.ics"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), "end 2\n");
}

TEST_F(SummaryCacheTest, EntriesOutOfOrderCountAsDamage) {
  std::vector<CacheEntry> entries{{"b/2.ics", one, spanning(2, 2)}, {"a/1.ics", one, spanning(1, 1)}};
  env.writeFile(file(), serializeCache("/root", entries));
  SummaryCache cache(env, file(), "/root");
  EXPECT_EQ(cache.find("a/1.ics", one), nullptr);
  EXPECT_EQ(cache.find("b/2.ics", one), nullptr);
  cache.record("a/1.ics", one, spanning(1, 1));
  cache.save(false);
  EXPECT_EQ(readFile(file()).find("b/2.ics"), std::string::npos);
}

TEST(RacyTimestamps, OnlyFilesChangedStrictlyBeforeTheCacheWriteAreTrusted) {
  constexpr int64_t s = 1'000'000'000;
  const int64_t t = 1'700'000'000 * s;
  auto changedAt = [](int64_t mtime, int64_t ctime) { return FileStamp{10, mtime, ctime, 7}; };
  // Nanosecond times: strictly older, by mtime and ctime alike.
  EXPECT_TRUE(changedBeforeCacheWrite(changedAt(t + 5, t + 5), t + 6));
  EXPECT_FALSE(changedBeforeCacheWrite(changedAt(t + 6, t + 6), t + 6));
  EXPECT_FALSE(changedBeforeCacheWrite(changedAt(t + 1, t + 7), t + 6));
  // Whole seconds on either side: the same second is not older.
  EXPECT_FALSE(changedBeforeCacheWrite(changedAt(t, t), t + s / 2 + 3));
  EXPECT_FALSE(changedBeforeCacheWrite(changedAt(t + 3, t + 3), t));
  EXPECT_TRUE(changedBeforeCacheWrite(changedAt(t - s / 2, t - s / 2), t));
  EXPECT_TRUE(changedBeforeCacheWrite(changedAt(t, t), t + s));
  EXPECT_TRUE(changedBeforeCacheWrite(changedAt(t - s + 3, t - s + 3), t));
}

TEST_F(SummaryCacheTest, EntriesOfFilesChangedInTheTickOfTheCacheWriteAreReadAgain) {
  // The clock starts on a whole second; the cache is written 123 us later.
  const int64_t t = env.nowMicros() * 1000;
  const FileStamp coarse{10, t, t, 7}, fine{10, t + 123'000, t + 123'000, 8};
  env.tick(123);
  {
    SummaryCache cache(env, file(), "/root");
    cache.record("a/coarse.ics", coarse, spanning(1, 1));
    cache.record("a/fine.ics", fine, spanning(2, 2));
    cache.save(true);
  }
  auto rewriteCache = [&](int64_t micros) {
    env.tick(micros);
    env.writeFile(file(), readFile(file()));
  };
  // The same second as both, the same microsecond as one.
  EXPECT_EQ(SummaryCache(env, file(), "/root").find("a/coarse.ics", coarse), nullptr);
  EXPECT_EQ(SummaryCache(env, file(), "/root").find("a/fine.ics", fine), nullptr);
  rewriteCache(1);
  EXPECT_EQ(SummaryCache(env, file(), "/root").find("a/coarse.ics", coarse), nullptr);
  EXPECT_NE(SummaryCache(env, file(), "/root").find("a/fine.ics", fine), nullptr);
  rewriteCache(1'000'000);
  EXPECT_NE(SummaryCache(env, file(), "/root").find("a/coarse.ics", coarse), nullptr);
}

// A cache that cannot be read, or is larger than any cache of ours, is
// rebuilt without a word.
TEST_F(SummaryCacheTest, AnUnreadableOrHugeCacheIsRebuilt) {
  {
    SummaryCache cache(env, file(), "/root");
    cache.record("a/1.ics", one, spanning(1, 1));
    cache.save(true);
  }
  env.failReadsOf(file(), EIO);
  SummaryCache unreadable(env, file(), "/root");
  EXPECT_EQ(unreadable.find("a/1.ics", one), nullptr);
  unreadable.record("a/2.ics", one, spanning(2, 2));
  unreadable.save(false);
  EXPECT_NE(readFile(file()).find("a/2.ics"), std::string::npos);

  testing::MemoryEnv other;
  other.writeFile(file(), std::string(SummaryCache::maxCacheBytes + 1, 'x'));
  SummaryCache huge(other, file(), "/root");
  EXPECT_EQ(huge.find("a/1.ics", one), nullptr);
  huge.save(true);
  EXPECT_LT(other.contents(file())->size(), 100u);
}

}  // namespace
}  // namespace tallowick::ical
