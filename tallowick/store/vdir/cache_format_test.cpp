#include <gtest/gtest.h>

#include "tallowick/store/vdir/cache_format.h"

namespace tallowick::ical {
namespace {

TEST(CacheText, RoundTripsAndRefusesDamagedOrForeignText) {
  TodoItem tricky;
  tricky.index = 2;
  tricky.title = "tab\there, line\nbreak, back\\slash\r, \\n as text";
  tricky.priority = 9;
  tricky.due = DateComponents{2024, 6, 3, std::nullopt, std::nullopt, std::nullopt, "America/New_York"};
  TodoItem plain;
  plain.title = "-";
  plain.notes = "";
  plain.due = DateComponents{2024, 6, 3, 14, 30, 0, std::nullopt};
  FileSummary withTodos{true, true, true, false, false, 100, 200, {plain, tricky}};
  std::vector<CacheEntry> entries{
      {"work/a.ics", {120, 1700000000123456789, 1700000000223456789, 42}, withTodos},
      {"home/b b.ics", {7, 1, 2, 3}, {false, false, false, false, true, 0, 0, {}}},
      {"home/c.ics", {7, 1, 2, 3}, {true, false, true, true, false, -5, -5, {}}}};
  std::string text = serializeCache("/root/cals", entries);
  auto back = parseCache(text, "/root/cals");
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*back)[i].path, entries[i].path);
    EXPECT_EQ((*back)[i].stamp, entries[i].stamp);
    EXPECT_EQ((*back)[i].summary, entries[i].summary);
  }
  EXPECT_EQ((*back)[0].summary.openTodos[1].title, tricky.title);
  EXPECT_FALSE(parseCache(text, "/other").has_value());
  EXPECT_FALSE(parseCache(text.substr(0, text.size() - 9), "/root/cals").has_value());
  std::string flipped = text;
  flipped[flipped.find("\t120\t") + 1] = 'x';
  EXPECT_FALSE(parseCache(flipped, "/root/cals").has_value());
  // A todo line lost: the next file's line is no todo, and the count is off.
  std::string lost = text;
  size_t todoLine = lost.find('\n', lost.find("work/a.ics")) + 1;
  lost.erase(todoLine, lost.find('\n', todoLine) + 1 - todoLine);
  EXPECT_FALSE(parseCache(lost, "/root/cals").has_value());
  std::string badEscape = text;
  badEscape.replace(badEscape.find("\\t"), 2, "\\q");
  EXPECT_FALSE(parseCache(badEscape, "/root/cals").has_value());
  EXPECT_FALSE(parseCache("", "/root/cals").has_value());
}

TEST(CacheText, NumbersKeepTheirWholeRangeAndNothingElseReads) {
  constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
  constexpr int64_t highest = std::numeric_limits<int64_t>::max();
  std::vector<CacheEntry> entries{
      {"a.ics", {highest, lowest, 0, std::numeric_limits<uint64_t>::max()}, {true, false, true, false, false, lowest, highest, {}}}};
  std::string text = serializeCache("/r", entries);
  auto back = parseCache(text, "/r");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ((*back)[0].stamp, entries[0].stamp);
  EXPECT_EQ((*back)[0].summary, entries[0].summary);

  // The line of a.ics with its fields: size, mtime, ctime, inode, flags,
  // first start, last end, todo count.
  auto withField = [&](int field, const std::string& value) {
    std::string line = "a.ics";
    const std::string fields[] = {"1", "2", "3", "4", "5", "6", "7", "0"};
    for (int i = 0; i < 8; ++i) line += "\t" + (i == field ? value : fields[i]);
    return std::string(text.substr(0, text.find("a.ics"))) + line + "\nend 1\n";
  };
  ASSERT_TRUE(parseCache(withField(0, "1"), "/r").has_value());
  EXPECT_TRUE(parseCache(withField(5, "-0"), "/r").has_value());
  EXPECT_TRUE(parseCache(withField(0, "007"), "/r").has_value());
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1x", "0x1", "9223372036854775808", "-9223372036854775809"})
    EXPECT_FALSE(parseCache(withField(1, bad), "/r").has_value()) << bad;
  EXPECT_FALSE(parseCache(withField(3, "-1"), "/r").has_value());                    // an inode is unsigned
  EXPECT_FALSE(parseCache(withField(3, "18446744073709551616"), "/r").has_value());  // 2^64
  EXPECT_FALSE(parseCache(withField(4, "2147483648"), "/r").has_value());            // flags are an int
}

}  // namespace
}  // namespace tallowick::ical
