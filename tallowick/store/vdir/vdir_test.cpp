#include "tallowick/store/vdir/vdir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::TempDir;
using testing::writeFile;

std::vector<std::string> namesOf(const std::vector<Item>& items) {
  std::vector<std::string> names;
  for (const Item& item : items) names.push_back(item.name);
  return names;
}

std::vector<Item> listItems(const std::string& directory) {
  ItemScan scan(defaultEnv(), directory);
  scan.stat(0, scan.size());
  return scan.take();
}

TEST(ItemScan, ListsRegularIcsFilesInByteOrderFollowingLinks) {
  TempDir dir;
  const std::string c = dir.path() + "/c";
  writeFile(c + "/b.ics", "b");
  writeFile(c + "/B.ics", "B");
  writeFile(c + "/a.ics", "a");
  writeFile(c + "/\xc3\xa9.ics", "e");
  writeFile(c + "/.hidden.ics", "h");
  writeFile(c + "/.ics", "no name");
  writeFile(c + "/notes.txt", "t");
  writeFile(c + "/x.ICS", "upper");
  writeFile(c + "/x.ics~", "backup");
  std::filesystem::create_directories(c + "/dir.ics");
  ASSERT_EQ(::symlink("a.ics", (c + "/link.ics").c_str()), 0);
  ASSERT_EQ(::symlink("gone.ics", (c + "/broken.ics").c_str()), 0);

  std::vector<Item> items = listItems(c);
  EXPECT_EQ(namesOf(items), (std::vector<std::string>{"B.ics", "a.ics", "b.ics", "link.ics", "\xc3\xa9.ics"}));
  // A link has the stamp of the file it names.
  EXPECT_EQ(items[1].stamp, items[3].stamp);
  EXPECT_EQ(items[1].stamp.size, 1);
  EXPECT_TRUE(listItems(dir.path() + "/missing").empty());
}

TEST(ItemScan, RangesTakenOnTwoThreadsInAnyOrderGiveTheSameItems) {
  TempDir dir;
  std::mt19937 random(7);
  for (int i = 0; i < 1000; ++i) writeFile(dir.path() + "/f" + std::to_string(random()) + ".ics", std::string(i % 37, 'x'));
  const std::vector<Item> expected = listItems(dir.path());
  ASSERT_EQ(expected.size(), 1000u);

  ItemScan scan(defaultEnv(), dir.path());
  ASSERT_EQ(scan.size(), 1000u);
  std::vector<size_t> starts;
  for (size_t begin = 0; begin < scan.size(); begin += 7) starts.push_back(begin);
  std::shuffle(starts.begin(), starts.end(), random);
  auto half = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) scan.stat(starts[i], starts[i] + 7);
  };
  std::thread other(half, 0, starts.size() / 2);
  half(starts.size() / 2, starts.size());
  other.join();
  std::vector<Item> items = scan.take();
  ASSERT_EQ(items.size(), expected.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].name, expected[i].name);
    EXPECT_EQ(items[i].stamp, expected[i].stamp);
  }
}

}  // namespace
}  // namespace tallowick::ical
