#include "tallowick/store/ical/summary_cache.h"

#include <gtest/gtest.h>

#include "tallowick/store/ical/test_support.h"

namespace tallowick::ical {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

FileSummary spanning(int64_t first, int64_t last) { return FileSummary{true, false, true, false, first, last, {}}; }

class SummaryCacheTest : public ::testing::Test {
 protected:
  std::string file() const { return dir.path() + "/cache/index"; }
  TempDir dir;
  const FileStamp one{10, 1, 1, 7}, two{10, 1, 2, 7};
};

TEST_F(SummaryCacheTest, FindsEntriesInAnyOrderOnlyUnderTheirStamp) {
  {
    SummaryCache cache(file(), "/root");
    cache.record("b/2.ics", one, spanning(2, 2));
    cache.record("a/1.ics", one, spanning(1, 1));
    cache.record("c/3.ics", one, spanning(3, 3));
    cache.save(true);
  }
  SummaryCache cache(file(), "/root");
  for (const char* path : {"c/3.ics", "a/1.ics", "b/2.ics", "a/1.ics"}) {
    const FileSummary* found = cache.find(path, one);
    ASSERT_NE(found, nullptr) << path;
    EXPECT_EQ(found->firstStart, path[0] - 'a' + 1);
  }
  EXPECT_EQ(cache.find("b/2.ics", two), nullptr);  // only the ctime differs
  EXPECT_EQ(cache.find("d/4.ics", one), nullptr);
  EXPECT_EQ(SummaryCache(file(), "/elsewhere").find("a/1.ics", one), nullptr);
}

TEST_F(SummaryCacheTest, SavingKeepsWhatWasSeenOrReplacedAndDropsTheRestAfterAFullVisit) {
  {
    SummaryCache cache(file(), "/root");
    for (const char* path : {"a/1.ics", "a/2.ics", "a/3.ics"}) cache.record(path, one, spanning(1, 1));
    cache.save(true);
  }
  {
    SummaryCache partial(file(), "/root");
    ASSERT_NE(partial.find("a/1.ics", one), nullptr);
    partial.record("a/2.ics", two, spanning(5, 5));
    partial.save(false);  // a/3.ics was not looked at: kept
  }
  SummaryCache cache(file(), "/root");
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
  writeFile(file(), serializeCache("/root", entries));
  SummaryCache cache(file(), "/root");
  EXPECT_EQ(cache.find("a/1.ics", one), nullptr);
  EXPECT_EQ(cache.find("b/2.ics", one), nullptr);
  cache.record("a/1.ics", one, spanning(1, 1));
  cache.save(false);
  EXPECT_EQ(readFile(file()).find("b/2.ics"), std::string::npos);
}

}  // namespace
}  // namespace tallowick::ical
