// tallowick on a real store on disk: a fixture of vdir collections with
// recurring, moved, zoned and all-day events and todos, run through every
// subcommand with XDG_* pointed at a temporary directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

class TallowickStore : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = e2e::makeTempHome("tallowick-store-e2e", "Europe/Berlin", options_);
    settings(R"({"access": {"events": "full-access", "reminders": "full-access"}, "defaultReminderList": "Errands"})");
    write("data/calendars/family/displayname", "Family\n");
    write("data/calendars/family/swim.ics",
          "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n"
          "BEGIN:VEVENT\r\nUID:swim\r\nSUMMARY:Swimming\r\nDTSTART;TZID=America/New_York:20240307T070000\r\n"
          "DTEND;TZID=America/New_York:20240307T080000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\n"
          "BEGIN:VEVENT\r\nUID:swim\r\nSUMMARY:Swimming (late)\r\nRECURRENCE-ID;TZID=America/New_York:20240314T070000\r\n"
          "DTSTART;TZID=America/New_York:20240314T190000\r\nDTEND;TZID=America/New_York:20240314T200000\r\n"
          "END:VEVENT\r\nEND:VCALENDAR\r\n");
    write("data/calendars/family/fair.ics",
          "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//t//EN\nBEGIN:VEVENT\nUID:fair\nSUMMARY:Fair\n"
          "LOCATION:Town hall\nDESCRIPTION:Tickets at the door\nDTSTART;VALUE=DATE:20240308\n"
          "DTEND;VALUE=DATE:20240310\nEND:VEVENT\nEND:VCALENDAR\n");
    write("data/calendars/family/broken.ics", "BEGIN:VCALENDAR\nthis is not iCalendar\n");
    write("data/calendars/errands/displayname", "Errands\n");
    write("data/calendars/errands/milk.ics", milk_);
    write("data/calendars/errands/bank.ics",
          "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//t//EN\nBEGIN:VTODO\nUID:bank\nSUMMARY:Bank\n"
          "DUE:20240311T090000Z\nPRIORITY:1\nEND:VTODO\nEND:VCALENDAR\n");
    write("data/calendars/errands/done.ics",
          "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//t//EN\nBEGIN:VTODO\nUID:done\nSUMMARY:Done already\n"
          "STATUS:COMPLETED\nEND:VTODO\nEND:VCALENDAR\n");
  }
  void TearDown() override { fs::remove_all(home_); }

  void settings(const std::string& json) { write("config/vantrel/calendar.json", json); }
  void write(const std::string& relative, const std::string& content) {
    fs::create_directories((home_ / relative).parent_path());
    std::ofstream(home_ / relative, std::ios::binary) << content;
  }
  std::string read(const std::string& relative) {
    std::ifstream in(home_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  e2e::ProcessResult run(const std::vector<std::string>& args) { return e2e::runProcess(TALLOWICK_BIN, args, options_); }

  void expectOutput(const e2e::ProcessResult& r, const std::string& out) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }

  fs::path home_;
  e2e::ProcessOptions options_;
  const std::string milk_ =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VTODO\r\nUID:milk\r\nSUMMARY:Milk\r\n"
      "X-TODOMAN-ORDER:3\r\nDESCRIPTION:Two litres\\, organic\r\nDUE;VALUE=DATE:20240309\r\nPRIORITY:5\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
};

TEST_F(TallowickStore, EventsAreExpandedAndGivenInLocalTime) {
  // New York changes to summer time on 10 March, Berlin only on 31 March: the
  // swim moves from 13:00 to 12:00 Berlin time, and the moved one is at night.
  expectOutput(run({"events", "2024-03-07", "2024-03-21"}),
               R"([{"title":"Swimming","startDate":"2024-03-07T13:00:00","endDate":"2024-03-07T14:00:00",)"
               R"("isAllDay":false,"location":"","calendar":"Family","notes":""},)"
               R"({"title":"Fair","startDate":"2024-03-08T00:00:00","endDate":"2024-03-09T23:59:59",)"
               R"("isAllDay":true,"location":"Town hall","calendar":"Family","notes":"Tickets at the door"},)"
               R"x({"title":"Swimming (late)","startDate":"2024-03-15T00:00:00","endDate":"2024-03-15T01:00:00",)x"
               R"("isAllDay":false,"location":"","calendar":"Family","notes":""},)"
               R"({"title":"Swimming","startDate":"2024-03-21T12:00:00","endDate":"2024-03-21T13:00:00",)"
               R"("isAllDay":false,"location":"","calendar":"Family","notes":""}])"
               "\n");
  expectOutput(run({"events", "2024-03-14", "2024-03-14"}), "[]\n");
}

TEST_F(TallowickStore, RemindersAndLists) {
  expectOutput(run({"reminders"}),
               R"([{"title":"Bank","completed":false,"priority":1,"dueDate":"2024-03-11T10:00:00","list":"Errands",)"
               R"("notes":""},{"title":"Milk","completed":false,"priority":5,"dueDate":"2024-03-09T00:00:00",)"
               R"("list":"Errands","notes":"Two litres, organic"}])"
               "\n");
  expectOutput(run({"reminder-lists"}), "[\"Errands\",\"Family\"]\n");
}

TEST_F(TallowickStore, AddReminderGoesToTheDefaultListAsANewFile) {
  write("add.json", R"({"title":"Post office","listName":"Nowhere","priority":2,"dueDate":"2024-03-12"})");
  expectOutput(run({"add-reminder", "add.json"}), "{\"ok\":true}\n");
  std::vector<fs::path> added;
  for (const auto& e : fs::directory_iterator(home_ / "data/calendars/errands"))
    if (e.path().filename().string().size() == 40) added.push_back(e.path());
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].extension(), ".ics");
  std::string text = read(fs::relative(added[0], home_).string());
  EXPECT_NE(text.find("UID:" + added[0].stem().string() + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("DUE:20240312T000000\r\n"), std::string::npos);
  EXPECT_NE(run({"reminders"}).out.find(R"({"title":"Post office","completed":false,"priority":2,)"
                                        R"("dueDate":"2024-03-12T00:00:00","list":"Errands","notes":""})"),
            std::string::npos);
}

TEST_F(TallowickStore, CompleteReminderChangesOnlyItsStatusLines) {
  write("done.json", R"({"title":"Milk","listName":"Errands"})");
  expectOutput(run({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  std::string text = read("data/calendars/errands/milk.ics");
  std::string expectedStart =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VTODO\r\nUID:milk\r\nSUMMARY:Milk\r\n"
      "X-TODOMAN-ORDER:3\r\nDESCRIPTION:Two litres\\, organic\r\nDUE;VALUE=DATE:20240309\r\nPRIORITY:5\r\n"
      "STATUS:COMPLETED\r\nCOMPLETED:";
  EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(text.find("Z\r\nSEQUENCE:1\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\nEND:VTODO\r\n"
                      "END:VCALENDAR\r\n"),
            std::string::npos);
  EXPECT_EQ(run({"reminders"}).out.find("Milk"), std::string::npos);
  EXPECT_EQ(read("data/calendars/family/broken.ics"), "BEGIN:VCALENDAR\nthis is not iCalendar\n");
}

TEST_F(TallowickStore, DeniedAndUnknownStates) {
  settings(R"({"access": {"events": "denied", "reminders": "full-access"}})");
  auto r = run({"events", "2024-03-07", "2024-03-21"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.\n");
  EXPECT_EQ(r.status, 1);
  settings(R"({"access": {"events": "full-access", "reminders": "granted"}})");
  r = run({"reminder-lists"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Unknown reminders authorization state\n");
  EXPECT_EQ(r.status, 1);
  settings("{ not json");
  r = run({"events", "2024-03-07", "2024-03-21"});
  EXPECT_EQ(r.err, "Unknown calendar authorization state\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(TallowickStore, RequestAccessWithNobodyToAskIsNotGrantedAndRecordsNothing) {
  fs::remove(home_ / "config/vantrel/calendar.json");
  expectOutput(run({"request-access", "reminders"}), "{\"granted\":false}\n");
  EXPECT_FALSE(fs::exists(home_ / "config/vantrel/calendar.json"));
  auto r = run({"reminders"});
  EXPECT_EQ(r.err, "Reminders access was not granted\n");
  EXPECT_EQ(r.status, 1);
  settings(R"({"access": {"events": "full-access"}})");
  expectOutput(run({"request-access", "events"}), "{\"granted\":true}\n");
}

// For a person: what a run would use and what is wrong, one fact a line; the
// host's own texts stay as they are.
TEST_F(TallowickStore, DoctorSaysWhatARunUsesAndWhatIsWrong) {
  const std::string root = (home_ / "data/calendars").string();
  auto r = run({"doctor"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string& line :
       {"settings: " + (home_ / "config/vantrel/calendar.json").string() + " (read)\n",
        "store chosen: vdir folders (" + root + " exists)\n", "list: Errands (" + root + "/errands, 3 files)\n",
        "list: Family (" + root + "/family, 3 files)\n",
        "skipped file: " + root + "/family/broken.ics is not an iCalendar calendar (BEGIN:VCALENDAR ... END:VCALENDAR)\n",
        std::string("default list: Errands\n"), std::string("access to events: full-access\n"),
        std::string("verdict: usable\n")})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin:\n" << r.out;

  settings(R"({"access": {"events": "denied", "reminders": "full-access"}})");
  fs::remove_all(home_ / "data/calendars");
  fs::create_directories(home_ / "data/calendars");
  r = run({"doctor"});
  EXPECT_EQ(r.status, 1);
  const std::string noList = "there is no reminder list, so add-reminder fails with \"No reminder lists found\"; make "
                             "one: mkdir -p " + root + "/personal && echo Personal > " + root + "/personal/displayname";
  EXPECT_NE(r.out.find("problem: " + noList + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("problem: access to events is denied; to grant it"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "The calendar store is not usable: " + noList + "\n");
}

// Files far larger than any calendar (sparse here, a terabyte each) are not
// read: a calendar file is skipped, a cache is rebuilt, and settings count as
// unreadable; everything else is listed as before.
TEST_F(TallowickStore, MonstrousFilesAreSkippedAndTheRestListed) {
  const std::string before = run({"events", "2024-03-07", "2024-03-21"}).out;
  ASSERT_NE(before.find("Swimming"), std::string::npos);
  auto sparse = [&](const std::string& relative) {
    fs::create_directories((home_ / relative).parent_path());
    std::ofstream(home_ / relative, std::ios::binary) << "BEGIN:VCALENDAR\n";
    fs::resize_file(home_ / relative, uintmax_t{1} << 40);
  };
  sparse("data/calendars/family/huge.ics");
  sparse("cache/vantrel/calendar-index");
  auto r = run({"events", "2024-03-07", "2024-03-21"});
  EXPECT_EQ(r.out, before);
  EXPECT_EQ(r.err, "");
  EXPECT_LT(fs::file_size(home_ / "cache/vantrel/calendar-index"), uintmax_t{1} << 20);
  sparse("config/vantrel/calendar.json");
  r = run({"reminders"});
  EXPECT_EQ(r.err, "Unknown reminders authorization state\n");
  EXPECT_EQ(r.status, 1);
}

// The person said yes, but the answer cannot be written down (the settings
// folder cannot be made): that is the run's failure, not a refusal.
TEST_F(TallowickStore, AnAnswerThatCannotBeKeptFailsTheRequestWithItsReason) {
  write("bin/zenity", "#!/bin/sh\nexit 0\n");
  fs::permissions(home_ / "bin/zenity", fs::perms::owner_all);
  write("blocked", "");
  options_.env["DISPLAY"] = ":99";
  options_.env["PATH"] = (home_ / "bin").string() + ":" + std::getenv("PATH");
  options_.env["XDG_CONFIG_HOME"] = (home_ / "blocked").string();
  auto r = run({"request-access", "events"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Cannot create " + (home_ / "blocked/vantrel").string() + ": Not a directory\n");
  EXPECT_EQ(r.status, 1);
}

// An event and a todo at the same wall time of a zone list as the same
// instant: both are read through the one zone engine, also for zones whose
// rules changed after 2020, where any second zone database built earlier
// would put one of them an hour off.
TEST_F(TallowickStore, EventsAndDueDatesAgreeInZonesWhoseRulesChanged) {
  options_.env["TZ"] = "UTC";
  for (const std::string zone : {"America/Mexico_City", "America/Ciudad_Juarez", "Asia/Tehran", "Europe/Kyiv",
                                 "America/Nuuk", "Europe/Berlin"}) {
    write("data/calendars/family/zone.ics",
          "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//t//EN\nBEGIN:VEVENT\nUID:e\nSUMMARY:E\nDTSTART;TZID=" + zone +
              ":20240701T120000\nEND:VEVENT\nBEGIN:VTODO\nUID:t\nSUMMARY:T\nDUE;TZID=" + zone +
              ":20240701T120000\nEND:VTODO\nEND:VCALENDAR\n");
    std::string events = run({"events", "2024-07-01", "2024-07-01"}).out;
    std::string reminders = run({"reminders"}).out;
    auto field = [](const std::string& json, const std::string& member) {
      size_t at = json.find("\"" + member + "\":\"");
      return at == std::string::npos ? std::string() : json.substr(at + member.size() + 4, 19);
    };
    EXPECT_NE(field(events, "startDate"), "") << zone;
    EXPECT_EQ(field(events, "startDate"), field(reminders.substr(reminders.find("\"title\":\"T\"")), "dueDate"))
        << zone;
  }
}

}  // namespace
