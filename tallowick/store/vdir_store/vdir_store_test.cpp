#include "tallowick/store/vdir_store/vdir_store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <random>

#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/test_support.h"
#include "tallowick/store/vdir/atomic_file.h"
#include "tallowick/store/vdir/memory_env.h"
#include "tallowick/store/vdir/settings.h"

namespace tallowick::ical {
namespace {

using testing::calendar;
using testing::readFile;
using testing::ScopedTimeZone;
using testing::TempDir;
using testing::utc;
using testing::writeFile;

// The real files, with the clock stopped at noon on 2024-06-01.
class NoonEnv : public EnvWrapper {
 public:
  NoonEnv() : EnvWrapper(defaultEnv()) {}
  int64_t nowMicros() override { return utc(2024, 6, 1, 12).time_since_epoch().count(); }
};

class VdirStoreTest : public ::testing::Test {
 protected:
  VdirStoreConfig config() {
    VdirStoreConfig c;
    c.settingsFile = dir.path() + "/config/vantrel/calendar.json";
    c.defaultRoot = root();
    c.home = dir.path();
    c.cacheFile = cacheFile();
    c.lockFile = dir.path() + "/cache/vantrel/write.lock";
    c.prompt = [](EntityType) { return PromptAnswer::unanswered; };
    c.newUuid = [this] { return uuids.empty() ? std::string("fallback") : takeUuid(); };
    c.env = &noon;
    return c;
  }
  std::string takeUuid() {
    std::string u = uuids.front();
    uuids.erase(uuids.begin());
    return u;
  }
  std::string root() const { return dir.path() + "/calendars"; }
  std::string cacheFile() const { return dir.path() + "/cache/vantrel/calendar-index"; }
  std::vector<std::string> titlesIn(Instant start, Instant end) {
    std::vector<std::string> titles;
    for (const Event& e : open()->events({start, end})) titles.push_back(e.title.value_or(""));
    return titles;
  }
  std::unique_ptr<CalendarStore> open() { return VdirPlatform(config()).openStore(); }

  std::vector<Reminder> fetch(CalendarStore& store, std::optional<std::vector<Calendar>> lists = std::nullopt) {
    std::vector<Reminder> out;
    store.fetchReminders({std::move(lists)}, [&](std::optional<std::vector<Reminder>> r) { out = r.value_or(out); });
    return out;
  }

  std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(directory)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScopedTimeZone zone{"UTC"};
  NoonEnv noon;
  TempDir dir;
  std::vector<std::string> uuids;
};

const std::string openTodo = calendar("BEGIN:VTODO\nUID:t1\nSUMMARY:Buy milk\nPRIORITY:1\nEND:VTODO\n");

TEST_F(VdirStoreTest, CollectionsInByteOrderTitledByDisplaynameOrDirectoryName) {
  writeFile(root() + "/work/displayname", "Work Stuff\nsecond line\n");
  writeFile(root() + "/Zed/a.ics", openTodo);
  writeFile(root() + "/home/displayname", "");
  writeFile(root() + "/.hidden/a.ics", openTodo);
  writeFile(root() + "/not-a-directory", "");
  auto calendars = open()->calendars(EntityType::reminder);
  ASSERT_EQ(calendars.size(), 3u);
  EXPECT_EQ(calendars[0].identifier, "Zed");
  EXPECT_EQ(calendars[0].title, "Zed");
  EXPECT_EQ(calendars[1].title, "home");
  EXPECT_EQ(calendars[2].identifier, "work");
  EXPECT_EQ(calendars[2].title, "Work Stuff");
}

TEST_F(VdirStoreTest, MissingRootIsAnEmptyStore) {
  auto store = open();
  EXPECT_TRUE(store->calendars(EntityType::event).empty());
  EXPECT_TRUE(store->events({utc(2024, 1, 1), utc(2025, 1, 1)}).empty());
  EXPECT_TRUE(fetch(*store).empty());
}

TEST_F(VdirStoreTest, EventsOfAllCollectionsInChronologicalOrderMalformedFilesSkipped) {
  writeFile(root() + "/a/late.ics", calendar("BEGIN:VEVENT\nUID:1\nSUMMARY:Late\nDTSTART:20240502T090000Z\nEND:VEVENT\n"));
  writeFile(root() + "/a/broken.ics", "garbage\x01\x02 that is no calendar");
  writeFile(root() + "/a/notes.txt", calendar("BEGIN:VEVENT\nUID:3\nDTSTART:20240501T090000Z\nEND:VEVENT\n"));
  writeFile(root() + "/b/displayname", "Bravo");
  writeFile(root() + "/b/early.ics",
            calendar("BEGIN:VEVENT\nUID:2\nSUMMARY:Early\nLOCATION:Room 1\nDESCRIPTION:Bring notes\n"
                     "DTSTART:20240501T080000Z\nDTEND:20240501T083000Z\nEND:VEVENT\n"));
  const std::string broken = readFile(root() + "/a/broken.ics");
  auto events = open()->events({utc(2024, 5, 1), utc(2024, 5, 3)});
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].title, "Early");
  EXPECT_EQ(events[0].location, "Room 1");
  EXPECT_EQ(events[0].notes, "Bring notes");
  EXPECT_EQ(events[0].calendar->title, "Bravo");
  EXPECT_EQ(events[0].endDate, utc(2024, 5, 1, 8, 30));
  EXPECT_EQ(events[1].title, "Late");
  EXPECT_EQ(events[1].location, std::nullopt);
  EXPECT_EQ(events[1].calendar->title, "a");
  EXPECT_EQ(readFile(root() + "/a/broken.ics"), broken);
}

// Files in shuffled start order, several events per start: the listing is
// by start, and events that start together keep the order of the store
// (collection, file name, then the file's own order).
TEST_F(VdirStoreTest, EventsStartingTogetherKeepStoreOrderWhateverTheShuffle) {
  std::mt19937 random(7);
  std::vector<int> hours(24);
  for (int i = 0; i < 24; ++i) hours[i] = i;
  std::vector<std::pair<int, std::string>> expected;
  for (const char* collection : {"a", "b"}) {
    std::shuffle(hours.begin(), hours.end(), random);
    for (int f = 0; f < 24; ++f) {
      char name[16];
      std::snprintf(name, sizeof name, "%02d.ics", f);
      std::string title = std::string(collection) + name;
      char start[40];
      std::snprintf(start, sizeof start, "DTSTART:20240501T%02d0000Z", hours[f] % 6);
      writeFile(root() + "/" + collection + "/" + name,
                calendar("BEGIN:VEVENT\nUID:" + title + "\nSUMMARY:" + title + "\n" + start + "\nEND:VEVENT\n"));
      expected.emplace_back(hours[f] % 6, title);
    }
  }
  std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<std::string> titles;
  for (const auto& e : expected) titles.push_back(e.second);
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), titles);
}

TEST_F(VdirStoreTest, FetchesIncompleteTodosOfAllListsOrOfTheGivenOnes) {
  writeFile(root() + "/a/1.ics", openTodo);
  writeFile(root() + "/a/2.ics", calendar("BEGIN:VTODO\nUID:t2\nSTATUS:COMPLETED\nEND:VTODO\n"));
  writeFile(root() + "/a/3.ics", "BEGIN:VCALENDAR\nthis is broken");
  writeFile(root() + "/b/1.ics", calendar("BEGIN:VTODO\nUID:t3\nSUMMARY:Call\nDUE;VALUE=DATE:20240510\nEND:VTODO\n"));
  auto store = open();
  auto all = fetch(*store);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].title, "Buy milk");
  EXPECT_EQ(all[0].priority, 1);
  EXPECT_EQ(all[0].calendar->identifier, "a");
  EXPECT_EQ(all[1].title, "Call");
  EXPECT_EQ(all[1].dueDateComponents->day, 10);
  EXPECT_NE(all[0].identifier, all[1].identifier);
  auto onlyB = fetch(*store, std::vector<Calendar>{{"b", "b"}});
  ASSERT_EQ(onlyB.size(), 1u);
  EXPECT_EQ(onlyB[0].title, "Call");
}

TEST_F(VdirStoreTest, CompletionKeepsXPropertiesAndAlarmsByteForByte) {
  const std::string original =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//EN\r\nBEGIN:VTODO\r\nUID:t1\r\nSUMMARY:Buy milk\r\n"
      "X-EVOLUTION-COLOR:#ff0000\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\nDESCRIPTION:Soon\r\n"
      "END:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  writeFile(root() + "/a/1.ics", original);
  auto store = open();
  auto reminders = fetch(*store);
  ASSERT_EQ(reminders.size(), 1u);
  reminders[0].isCompleted = true;
  store->saveReminder(reminders[0], true);
  const std::string saved = readFile(root() + "/a/1.ics");
  EXPECT_NE(saved.find("X-EVOLUTION-COLOR:#ff0000\r\n"), std::string::npos);
  EXPECT_NE(saved.find("BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT5M\r\nDESCRIPTION:Soon\r\nEND:VALARM\r\n"),
            std::string::npos);
  EXPECT_NE(saved.find("STATUS:COMPLETED\r\nCOMPLETED:20240601T120000Z\r\n"), std::string::npos);
  EXPECT_TRUE(fetch(*open()).empty());
  EXPECT_EQ(namesIn(root() + "/a"), std::vector<std::string>{"1.ics"});
}

TEST_F(VdirStoreTest, FileChangedSinceItWasReadIsNotOverwritten) {
  writeFile(root() + "/a/1.ics", openTodo);
  auto store = open();
  auto reminders = fetch(*store);
  ASSERT_EQ(reminders.size(), 1u);
  const std::string edited = calendar("BEGIN:VTODO\nUID:t1\nSUMMARY:Buy oat milk\nEND:VTODO\n");
  writeFile(root() + "/a/1.ics", edited);
  reminders[0].isCompleted = true;
  try {
    store->saveReminder(reminders[0], true);
    FAIL() << "saved over a changed file";
  } catch (const StoreError& e) {
    EXPECT_EQ(std::string(e.what()), root() + "/a/1.ics changed on disk since it was read; the reminder was not saved");
  }
  EXPECT_EQ(readFile(root() + "/a/1.ics"), edited);
}

TEST_F(VdirStoreTest, ChangesOtherThanCompletionAreRefused) {
  writeFile(root() + "/a/1.ics", openTodo);
  auto store = open();
  auto reminders = fetch(*store);
  reminders[0].title = "Something else";
  EXPECT_THROW(store->saveReminder(reminders[0], true), StoreError);
  EXPECT_EQ(readFile(root() + "/a/1.ics"), openTodo);
}

TEST_F(VdirStoreTest, NewReminderIsANewFileThatReadsBack) {
  writeFile(root() + "/a/displayname", "Errands");
  uuids = {"11111111-2222-4333-8444-555555555555"};
  auto store = open();
  Reminder r = store->newReminder();
  r.title = "Pick up; parcel, now";
  r.notes = "Counter 3\nbring ID";
  r.priority = 5;
  r.calendar = Calendar{"a", "Errands"};
  r.dueDateComponents = DateComponents{2024, 6, 3, 14, 30, std::nullopt, std::nullopt};
  store->saveReminder(r, true);
  EXPECT_EQ(r.identifier, "a/11111111-2222-4333-8444-555555555555.ics/0");
  const std::string text = readFile(root() + "/a/11111111-2222-4333-8444-555555555555.ics");
  EXPECT_NE(text.find("UID:11111111-2222-4333-8444-555555555555\r\n"), std::string::npos);
  EXPECT_NE(text.find("DUE:20240603T143000\r\n"), std::string::npos);
  EXPECT_NE(text.find("STATUS:NEEDS-ACTION\r\n"), std::string::npos);
  EXPECT_NE(text.find("DTSTAMP:20240601T120000Z\r\n"), std::string::npos);
  auto fetched = fetch(*open());
  ASSERT_EQ(fetched.size(), 1u);
  EXPECT_EQ(fetched[0].title, "Pick up; parcel, now");
  EXPECT_EQ(fetched[0].notes, "Counter 3\nbring ID");
  EXPECT_EQ(fetched[0].priority, 5);
  EXPECT_EQ(fetched[0].dueDateComponents->hour, 14);
  EXPECT_EQ(fetched[0].dueDateComponents->timeZone, std::nullopt);
  EXPECT_EQ(fetched[0].calendar->title, "Errands");
}

// A run killed after its file landed, run again, must not add the reminder
// twice: the UID comes from the reminder's content, and an open todo of that
// content under it is the one saved before. Once completed, the same content
// makes a new reminder.
TEST_F(VdirStoreTest, NewReminderSavedAgainIsFoundNotAddedTwice) {
  writeFile(root() + "/a/displayname", "Errands");
  auto configured = [&] {
    VdirStoreConfig c = config();
    c.uuidOf = [](const std::string& name) { return "derived-" + std::to_string(std::hash<std::string>()(name)); };
    return VdirPlatform(c).openStore();
  };
  auto add = [&](const std::string& title) {
    auto store = configured();
    Reminder r = store->newReminder();
    r.title = title;
    r.calendar = Calendar{"a", "Errands"};
    r.dueDateComponents = DateComponents{2024, 6, 3, 14, 30, std::nullopt, std::nullopt};
    store->saveReminder(r, true);
    return r.identifier;
  };
  uuids = {"fresh-1", "fresh-2"};
  const std::string first = add("Pay rent");
  EXPECT_EQ(add("Pay rent"), first);
  EXPECT_NE(add("Pay the rent"), first);
  auto store = configured();
  auto open = fetch(*store);
  ASSERT_EQ(open.size(), 2u);
  Reminder& rent = open[0].title == "Pay rent" ? open[0] : open[1];
  rent.isCompleted = true;
  store->saveReminder(rent, true);
  EXPECT_EQ(add("Pay rent"), "a/fresh-1.ics/0");
  EXPECT_EQ(fetch(*configured()).size(), 2u);
}

TEST_F(VdirStoreTest, NewReminderNeverReplacesAFileOfTheSameName) {
  writeFile(root() + "/a/taken.ics", openTodo);
  uuids = {"taken", "free"};
  auto store = open();
  Reminder r = store->newReminder();
  r.title = "New";
  r.calendar = Calendar{"a", "a"};
  store->saveReminder(r, true);
  EXPECT_EQ(readFile(root() + "/a/taken.ics"), openTodo);
  EXPECT_EQ(namesIn(root() + "/a"), (std::vector<std::string>{"free.ics", "taken.ics"}));

  uuids = {"taken", "taken", "taken"};
  Reminder again = store->newReminder();
  again.calendar = Calendar{"a", "a"};
  try {
    store->saveReminder(again, true);
    FAIL() << "replaced an existing file";
  } catch (const StoreError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create a new reminder in " + root() + "/a: every new file name was taken");
  }
  EXPECT_EQ(readFile(root() + "/a/taken.ics"), openTodo);
  EXPECT_EQ(again.identifier, "");
}

TEST_F(VdirStoreTest, SettingsChooseTheStoreAndTheDefaultList) {
  writeFile(config().settingsFile, R"({"store": "~/elsewhere", "defaultReminderList": "Inbox"})");
  writeFile(dir.path() + "/elsewhere/x/displayname", "Inbox");
  writeFile(dir.path() + "/elsewhere/w/displayname", "Work");
  auto store = open();
  ASSERT_EQ(store->calendars(EntityType::reminder).size(), 2u);
  EXPECT_EQ(store->defaultCalendarForNewReminders()->identifier, "x");

  writeFile(config().settingsFile, R"({"store": "cals"})");
  writeFile(dir.path() + "/config/vantrel/cals/only/displayname", "Only");
  auto relative = open();
  ASSERT_EQ(relative->calendars(EntityType::event).size(), 1u);
  EXPECT_EQ(relative->defaultCalendarForNewReminders(), std::nullopt);
}

std::string event(const std::string& title, const std::string& start) {
  return calendar("BEGIN:VEVENT\nUID:" + title + "\nSUMMARY:" + title + "\nDTSTART:" + start + "\nEND:VEVENT\n");
}

TEST_F(VdirStoreTest, CacheNeverHidesAnEditAnAdditionOrARemoval) {
  const std::string a = root() + "/c/a.ics";
  writeFile(a, event("Alpha", "20240801T090000Z"));
  writeFile(root() + "/c/later.ics", event("Later", "20240901T090000Z"));
  EXPECT_EQ(titlesIn(utc(2024, 8, 1), utc(2024, 8, 2)), std::vector<std::string>{"Alpha"});
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), std::vector<std::string>{});
  ASSERT_TRUE(std::filesystem::exists(cacheFile()));

  // Moved into the window with the same size and the old mtime put back: only
  // the bytes (and ctime) differ.
  struct stat before {};
  ASSERT_EQ(::stat(a.c_str(), &before), 0);
  writeFile(a, event("Omega", "20240501T090000Z"));
  timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), std::vector<std::string>{"Omega"});

  writeFile(root() + "/c/b.ics", event("Beta", "20240501T100000Z"));
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), (std::vector<std::string>{"Omega", "Beta"}));
  std::filesystem::remove(a);
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), std::vector<std::string>{"Beta"});
  EXPECT_EQ(titlesIn(utc(2024, 9, 1), utc(2024, 9, 2)), std::vector<std::string>{"Later"});
}

// A store of rules that end far off or long ago, in zones and as dates, with
// overrides: listing any window with the cache gives the bytes listing it
// without one gives.
TEST_F(VdirStoreTest, WarmCacheListsExactlyWhatAColdRunLists) {
  ScopedTimeZone local("Europe/Berlin");
  std::mt19937 random(11);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  static const char* zones[] = {"", "Z", ";TZID=Europe/Berlin", ";TZID=America/New_York", ";VALUE=DATE"};
  static const char* freqs[] = {"YEARLY", "MONTHLY", "WEEKLY", "DAILY"};
  writeFile(root() + "/c/count600.ics",
            calendar("BEGIN:VEVENT\nUID:y\nSUMMARY:Yearly 600\nDTSTART;VALUE=DATE:20000615\nRRULE:FREQ=YEARLY;COUNT=600\n"
                     "END:VEVENT\n"));
  for (int i = 0; i < 80; ++i) {
    std::string zone = zones[pick(0, 4)];
    bool date = zone == ";VALUE=DATE";
    char start[32];
    std::snprintf(start, sizeof start, date ? "%04d%02d%02d" : "%04d%02d%02dT%02d%02d00", pick(1700, 2700), pick(1, 12),
                  pick(1, 28), pick(0, 23), pick(0, 59));
    std::string dtstart = std::string(start) + (zone == "Z" ? "Z" : "");
    std::string prefix = zone == "Z" ? "" : zone;
    int freq = pick(0, 3);
    std::string rule = std::string("FREQ=") + freqs[freq] + ";INTERVAL=" + std::to_string(pick(1, 3));
    int ending = pick(0, freq == 0 ? 2 : 1);
    if (ending == 0) rule += ";COUNT=" + std::to_string(pick(1, freq == 0 ? 700 : 3000));
    if (ending == 1) rule += ";UNTIL=" + std::to_string(pick(1800, 9000)) + "0101" + (date ? "" : "T000000Z");
    std::string body = "BEGIN:VEVENT\nUID:e" + std::to_string(i) + "\nSUMMARY:Event " + std::to_string(i) + "\nDTSTART" +
                       prefix + ":" + dtstart + "\n" + (date ? "" : "DURATION:PT" + std::to_string(pick(0, 90)) + "M\n") +
                       "RRULE:" + rule + "\nEND:VEVENT\n";
    if (pick(0, 3) == 0)
      body += "BEGIN:VEVENT\nUID:e" + std::to_string(i) + "\nSUMMARY:Moved " + std::to_string(i) +
              "\nRECURRENCE-ID;RANGE=THISANDFUTURE" + prefix + ":" + dtstart + "\nDTSTART" + prefix + ":" + dtstart +
              "\nEND:VEVENT\n";
    writeFile(root() + "/c/e" + std::to_string(i) + ".ics", calendar(body));
  }
  auto list = [&](bool cached, Instant start, Instant end) {
    VdirStoreConfig c = config();
    if (!cached) c.cacheFile.clear();
    std::string out;
    for (const Event& e : VdirPlatform(c).openStore()->events({start, end}))
      out += e.title.value_or("") + " " + std::to_string(e.startDate->time_since_epoch().count()) + " " +
             std::to_string(e.endDate->time_since_epoch().count()) + (e.isAllDay ? " all-day\n" : "\n");
    return out;
  };
  list(true, utc(2024, 1, 1), utc(2024, 1, 2));  // builds the cache
  ASSERT_TRUE(std::filesystem::exists(cacheFile()));
  const std::pair<Instant, Instant> windows[] = {
      {utc(1750, 1, 1), utc(1750, 12, 31)}, {utc(1999, 12, 25), utc(2000, 1, 10)}, {utc(2199, 12, 1), utc(2200, 2, 1)},
      {utc(2500, 6, 1), utc(2500, 6, 30)},  {utc(2582, 1, 1), utc(2583, 12, 31)},  {utc(3001, 1, 1), utc(3001, 3, 1)},
      {utc(8999, 12, 1), utc(9000, 1, 31)}, {utc(2030, 1, 1), utc(2030, 1, 1)}};
  for (const auto& [start, end] : windows) EXPECT_EQ(list(true, start, end), list(false, start, end));
  EXPECT_NE(list(true, utc(2500, 6, 1), utc(2500, 6, 30)).find("Yearly 600"), std::string::npos);
}

TEST_F(VdirStoreTest, DamagedCacheIsRebuiltSilently) {
  writeFile(root() + "/c/a.ics", event("Alpha", "20240501T090000Z"));
  writeFile(root() + "/c/t.ics", openTodo);
  writeFile(cacheFile(), "vantrel-calendar-index 1\n" + root() + "\nc/a.ics\t1\t2\t3");
  EXPECT_EQ(titlesIn(utc(2024, 5, 1), utc(2024, 5, 2)), std::vector<std::string>{"Alpha"});
  EXPECT_EQ(fetch(*open()).size(), 1u);
  const std::string rebuilt = readFile(cacheFile());
  EXPECT_NE(rebuilt.find("c/a.ics\t"), std::string::npos);
  EXPECT_EQ(rebuilt.substr(rebuilt.size() - 6), "end 2\n");
}

// Rewrites `path` and puts its old mtime back, so only the bytes and the
// ctime tell the change.
void rewriteKeepingMtime(const std::string& path, const std::string& bytes) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  writeFile(path, bytes);
  timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string todo(const std::string& title, const std::string& extra = "") {
  return calendar("BEGIN:VTODO\nUID:" + title + "\nSUMMARY:" + title + "\n" + extra + "END:VTODO\n");
}

std::vector<std::string> titlesOf(const std::vector<Reminder>& reminders) {
  std::vector<std::string> titles;
  for (const Reminder& r : reminders) titles.push_back(r.title.value_or(""));
  return titles;
}

TEST_F(VdirStoreTest, CachedRemindersFollowEditsCompletionsAdditionsAndRemovals) {
  writeFile(root() + "/l/a.ics", todo("Aaaa", "DESCRIPTION:old notes\nPRIORITY:1\n"));
  writeFile(root() + "/l/b.ics", todo("Bbbb"));
  EXPECT_EQ(titlesOf(fetch(*open())), (std::vector<std::string>{"Aaaa", "Bbbb"}));
  EXPECT_NE(readFile(cacheFile()).find("Aaaa"), std::string::npos);

  rewriteKeepingMtime(root() + "/l/a.ics", todo("Zzzz", "DESCRIPTION:new notes\nPRIORITY:5\n"));
  auto edited = fetch(*open());
  ASSERT_EQ(titlesOf(edited), (std::vector<std::string>{"Zzzz", "Bbbb"}));
  EXPECT_EQ(edited[0].notes, "new notes");
  EXPECT_EQ(edited[0].priority, 5);

  rewriteKeepingMtime(root() + "/l/b.ics", todo("Bbbb", "STATUS:COMPLETED\n"));
  EXPECT_EQ(titlesOf(fetch(*open())), std::vector<std::string>{"Zzzz"});
  writeFile(root() + "/l/c.ics", todo("Cccc", "DUE:20240603T143000\n"));
  std::filesystem::remove(root() + "/l/a.ics");
  auto later = fetch(*open());
  ASSERT_EQ(titlesOf(later), std::vector<std::string>{"Cccc"});
  EXPECT_EQ(later[0].dueDateComponents->minute, 30);
}

TEST_F(VdirStoreTest, CompletingACachedReminderChecksTheFileItself) {
  const std::string path = root() + "/l/a.ics";
  writeFile(path, todo("Aaaa"));
  fetch(*open());  // leaves the summary in the cache

  auto store = open();
  auto listed = fetch(*store);
  ASSERT_EQ(listed.size(), 1u);
  rewriteKeepingMtime(path, todo("Aaab"));
  listed[0].isCompleted = true;
  EXPECT_THROW(store->saveReminder(listed[0], true), StoreError);
  EXPECT_EQ(readFile(path), todo("Aaab"));

  auto again = open();
  auto relisted = fetch(*again);
  ASSERT_EQ(titlesOf(relisted), std::vector<std::string>{"Aaab"});
  relisted[0].isCompleted = true;
  again->saveReminder(relisted[0], true);
  EXPECT_NE(readFile(path).find("STATUS:COMPLETED"), std::string::npos);
  EXPECT_TRUE(fetch(*open()).empty());
}

TEST_F(VdirStoreTest, TextsWithBlanksAtTheEndsComeBackFromFileAndCacheAndComplete) {
  writeFile(root() + "/l/a.ics", calendar("BEGIN:VTODO\nUID:t\nSUMMARY:Call Bob \nDESCRIPTION:   \nEND:VTODO\n"
                                          "BEGIN:VEVENT\nUID:e\nSUMMARY: Bastille Day\nDTSTART:20240714T100000Z\n"
                                          "END:VEVENT\n"));
  for (int run = 0; run < 2; ++run) {  // read from the file, then from the cache
    auto listed = fetch(*open());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].title, "Call Bob ");
    EXPECT_EQ(listed[0].notes, "   ");
    EXPECT_EQ(titlesIn(utc(2024, 7, 14), utc(2024, 7, 15)), std::vector<std::string>{" Bastille Day"});
  }
  auto store = open();
  auto listed = fetch(*store);
  ASSERT_EQ(listed.size(), 1u);
  listed[0].isCompleted = true;
  store->saveReminder(listed[0], true);
  EXPECT_NE(readFile(root() + "/l/a.ics").find("STATUS:COMPLETED"), std::string::npos);
}

// What the store's save says, or "" when it succeeds.
std::string saveError(CalendarStore& store, Reminder& reminder) {
  try {
    store.saveReminder(reminder, true);
  } catch (const StoreError& e) {
    return e.what();
  }
  return "";
}

TEST_F(VdirStoreTest, NewReminderThatACalendarFileCannotHoldIsRefusedAndNothingWritten) {
  writeFile(root() + "/a/displayname", "Errands");
  auto store = open();
  auto attempt = [&](auto change) {
    Reminder r = store->newReminder();
    r.title = "Title";
    r.calendar = Calendar{"a", "Errands"};
    change(r);
    return saveError(*store, r);
  };
  const std::string control = "Cannot save the reminder: its title holds the control character ";
  EXPECT_EQ(attempt([](Reminder& r) { r.title = std::string("a\0b", 3); }), control + "U+0000, which a calendar file cannot hold");
  EXPECT_EQ(attempt([](Reminder& r) { r.title = "line\rbreak"; }), control + "U+000D, which a calendar file cannot hold");
  EXPECT_EQ(attempt([](Reminder& r) { r.title = "esc\x1b"; }), control + "U+001B, which a calendar file cannot hold");
  EXPECT_EQ(attempt([](Reminder& r) { r.notes = "del\x7f"; }),
            "Cannot save the reminder: its notes hold the control character U+007F, which a calendar file cannot hold");
  EXPECT_EQ(attempt([](Reminder& r) { r.priority = 10; }),
            "Cannot save the reminder: priority 10 is outside 0 to 9, the priorities a calendar file holds");
  EXPECT_EQ(attempt([](Reminder& r) { r.priority = -1; }),
            "Cannot save the reminder: priority -1 is outside 0 to 9, the priorities a calendar file holds");
  EXPECT_EQ(attempt([](Reminder& r) { r.priority = int64_t{1} << 31; }),
            "Cannot save the reminder: priority 2147483648 is outside 0 to 9, the priorities a calendar file holds");
  EXPECT_EQ(attempt([](Reminder& r) { r.dueDateComponents = DateComponents{10000, 1, 1, 0, 0, {}, {}}; }),
            "Cannot save the reminder: its due date is outside the years 1 to 9999");
  EXPECT_EQ(attempt([](Reminder& r) { r.dueDateComponents = DateComponents{0, 12, 31, 0, 0, {}, {}}; }),
            "Cannot save the reminder: its due date is outside the years 1 to 9999");
  EXPECT_EQ(namesIn(root() + "/a"), std::vector<std::string>{"displayname"});
}

TEST_F(VdirStoreTest, NewReminderKeepsTabsLineFeedsAndTheEdgesOfTheYearRange) {
  writeFile(root() + "/a/displayname", "Errands");
  uuids = {"u1", "u2"};
  auto store = open();
  Reminder r = store->newReminder();
  r.title = "Tab\there";
  r.notes = "two\nlines";
  r.priority = 9;
  r.calendar = Calendar{"a", "Errands"};
  r.dueDateComponents = DateComponents{9999, 12, 31, 23, 59, {}, {}};
  EXPECT_EQ(saveError(*store, r), "");
  Reminder first = store->newReminder();
  first.title = "First";
  first.calendar = Calendar{"a", "Errands"};
  first.dueDateComponents = DateComponents{1, 1, 1, 0, 0, {}, {}};
  EXPECT_EQ(saveError(*store, first), "");
  auto fetched = fetch(*open());
  ASSERT_EQ(fetched.size(), 2u);
  EXPECT_EQ(fetched[0].title, "Tab\there");
  EXPECT_EQ(fetched[0].notes, "two\nlines");
  EXPECT_EQ(fetched[0].priority, 9);
  EXPECT_EQ(fetched[0].dueDateComponents->year, 9999);
  EXPECT_EQ(fetched[1].dueDateComponents->year, 1);
}

TEST_F(VdirStoreTest, CompletionNeverMarksATodoOtherThanTheOneListed) {
  // Lines that a plain text scan and libical may read differently.
  for (std::string begin : {"BEGIN: VTODO", "BEGIN;X-A=1:VTODO", "BEGIN :VTODO", "begin:vtodo", "BEGIN:VTODO "}) {
    const std::string text = calendar("BEGIN:VTODO\nUID:1\nSUMMARY:First\nEND:VTODO\n" + begin +
                                      "\nUID:2\nSUMMARY:Target\nEND:VTODO\n");
    writeFile(root() + "/a/1.ics", text);
    auto store = open();
    for (Reminder& r : fetch(*store)) {
      if (r.title != "Target") continue;
      r.isCompleted = true;
      std::string error = saveError(*store, r);
      EXPECT_TRUE(error.empty() || error.find("it was not saved") != std::string::npos) << begin << ": " << error;
    }
    std::vector<std::string> open;
    for (const Reminder& r : fetch(*this->open())) open.push_back(r.title.value_or(""));
    EXPECT_NE(std::find(open.begin(), open.end(), "First"), open.end()) << begin;
  }
}

TEST_F(VdirStoreTest, CompletionWritesThroughALinkAndKeepsTheFilesMode) {
  const std::string real = dir.path() + "/shared/todo.ics";
  writeFile(real, openTodo);
  ASSERT_EQ(::chmod(real.c_str(), 0664), 0);
  std::filesystem::create_directories(root() + "/a");
  std::filesystem::create_symlink(real, root() + "/a/1.ics");
  auto store = open();
  auto reminders = fetch(*store);
  ASSERT_EQ(reminders.size(), 1u);
  reminders[0].isCompleted = true;
  EXPECT_EQ(saveError(*store, reminders[0]), "");
  EXPECT_TRUE(std::filesystem::is_symlink(root() + "/a/1.ics"));
  EXPECT_NE(readFile(real).find("STATUS:COMPLETED"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0664u);
  EXPECT_TRUE(fetch(*open()).empty());
}

// The whole store on a file system in memory, whose clock moves only when
// the test says so.
class StoreInMemory : public ::testing::Test {
 protected:
  std::vector<std::string> openTitles() {
    VdirStoreConfig c;
    c.settingsFile = "/config/vantrel/calendar.json";
    c.defaultRoot = "/data/calendars";
    c.home = "/home";
    c.cacheFile = "/cache/vantrel/calendar-index";
    c.lockFile = "/cache/vantrel/write.lock";
    c.env = &env;
    std::vector<std::string> titles;
    VdirPlatform(c).openStore()->fetchReminders({}, [&](std::optional<std::vector<Reminder>> found) {
      for (const Reminder& r : found.value_or(std::vector<Reminder>{})) titles.push_back(r.title.value_or(""));
    });
    return titles;
  }
  static std::string todo(const std::string& title) {
    return calendar("BEGIN:VTODO\nUID:" + title + "\nSUMMARY:" + title + "\nEND:VTODO\n");
  }
  testing::MemoryEnv env;
  using Titles = std::vector<std::string>;
};

// A second edit in the same tick as the cache write, of the same size, keeps
// the file's stamp: only a cache written strictly later may be trusted.
TEST_F(StoreInMemory, AFileChangedInTheTickOfTheCacheWriteIsReadAgain) {
  const std::string file = "/data/calendars/c/a.ics";
  env.writeFile(file, todo("Milk"));
  EXPECT_EQ(openTitles(), Titles{"Milk"});
  env.writeFile(file, todo("Malt"));
  EXPECT_EQ(openTitles(), Titles{"Malt"});
  env.tick();
  EXPECT_EQ(openTitles(), Titles{"Malt"});
  // Now the cache is a tick younger than the file: the file is not read.
  env.failReadsOf(file, EIO);
  EXPECT_EQ(openTitles(), Titles{"Malt"});
}

// Killed runs leave temporary files wherever the helper writes; the next
// write there removes those older than five minutes.
TEST_F(StoreInMemory, StaleTemporaryFilesAreSweptFromTheCacheAndSettingsFolders) {
  env.writeFile("/data/calendars/c/a.ics", todo("A"));
  env.writeFile("/cache/vantrel/.tallowick-calendar-index.0123456789abcdef.tmp", "half");
  env.writeFile("/config/vantrel/.tallowick-calendar.json.0123456789abcdef.tmp", "half");
  env.tick(int64_t{staleTempSeconds + 1} * 1'000'000);
  EXPECT_EQ(openTitles(), Titles{"A"});
  recordAccessState(env, "/config/vantrel/calendar.json", EntityType::event, true, "/cache/vantrel/write.lock");
  std::vector<std::string> cache, config;
  env.listDirectory("/cache/vantrel", cache);
  env.listDirectory("/config/vantrel", config);
  std::sort(cache.begin(), cache.end());
  EXPECT_EQ(cache, (std::vector<std::string>{"calendar-index", "write.lock"}));
  EXPECT_EQ(config, std::vector<std::string>{"calendar.json"});
}

TEST_F(StoreInMemory, FilesThatCannotBeReadAreSkippedAndTheRestListed) {
  env.writeFile("/data/calendars/c/a.ics", todo("A"));
  env.writeFile("/data/calendars/c/b.ics", todo("B"));
  env.writeFile("/data/calendars/c/c.ics", todo("C") + std::string(ParseLimits{}.bytes, ' '));
  env.failReadsOf("/data/calendars/c/a.ics", EIO);
  env.failReadsOf("/cache/vantrel/calendar-index", EIO);
  env.failReadsOf("/config/vantrel/calendar.json", EIO);
  EXPECT_EQ(openTitles(), Titles{"B"});
}

}  // namespace
}  // namespace tallowick::ical
