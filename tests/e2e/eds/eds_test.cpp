// tallowick on a GNOME desktop's calendars: a private evolution-data-server
// with calendars and task lists of its own, shared by every test here (EDS
// takes a second or two to start), and runs of the real binary against it,
// found through the session bus alone.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "tallowick/store/eds/eds_service.h"
#include "tests/e2e/eds/private_eds.h"
#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string calendar(const std::string& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n" + body + "END:VCALENDAR\r\n";
}

std::string todo(const std::string& uid, const std::string& lines) {
  return "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:20240101T000000Z\r\n" + lines + "END:VTODO\r\n";
}

const std::string kFamily = calendar(
    // Outlook's name for a zone the system's zone data does not know.
    "BEGIN:VTIMEZONE\r\nTZID:Pacific Standard "
    "Time\r\nBEGIN:STANDARD\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:-0700\r\n"
    "TZOFFSETTO:-0800\r\nRRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=11\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\n"
    "DTSTART:16010101T020000\r\nTZOFFSETFROM:-0800\r\nTZOFFSETTO:-0700\r\nRRULE:FREQ=YEARLY;BYDAY=2SU;BYMONTH=3\r\n"
    "END:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\nUID:chess\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Chess club\r\nDTSTART:19600105T190000\r\n"
    "DTEND:19600105T210000\r\nRRULE:FREQ=WEEKLY;UNTIL=19601231T000000\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:swim\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Swimming\r\n"
    "DTSTART;TZID=America/New_York:20240307T070000\r\nDTEND;TZID=America/New_York:20240307T080000\r\n"
    "RRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:swim\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Swimming (later)\r\n"
    "RECURRENCE-ID;RANGE=THISANDFUTURE;TZID=America/New_York:20240314T070000\r\n"
    "DTSTART;TZID=America/New_York:20240314T080000\r\nDTEND;TZID=America/New_York:20240314T090000\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:fair\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Fair\r\nLOCATION:Town hall\r\n"
    "DTSTART;VALUE=DATE:20240308\r\nDTEND;VALUE=DATE:20240310\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:call\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Call\r\n"
    "DTSTART;TZID=Pacific Standard Time:20240308T080000\r\nDURATION:PT30M\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:launch\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Launch day\r\n"
    "DTSTART;TZID=America/New_York:25000704T120000\r\nDURATION:PT1H\r\nRRULE:FREQ=YEARLY\r\nEND:VEVENT\r\n");

const std::string kMilk =
    todo("milk",
         "SUMMARY:Milk\r\nDESCRIPTION:Two litres\\, organic\r\nDUE;VALUE=DATE:20240309\r\nPRIORITY:5\r\n"
         "X-TODOMAN-ORDER:3\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\n");

class Eds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    options_ = new e2e::ProcessOptions;
    home_ = new fs::path(e2e::makeTempHome("tallowick-eds-e2e", "Europe/Berlin", *options_));
    std::map<std::string, std::string> env;
    for (const auto& [name, value] : options_->env) env[name] = *value;
    eds_ = new e2e::PrivateEds(
        *home_, env,
        {{"family", "Family", false, kFamily},
         {"holidays", "US Holidays", false,
          calendar("BEGIN:VEVENT\r\nUID:h\r\nSUMMARY:Holiday\r\nDTSTART;VALUE=DATE:20240308\r\nEND:VEVENT\r\n")},
         {"errands", "Errands", true,
          calendar(kMilk + todo("bank", "SUMMARY:Bank\r\nDUE:20240311T090000Z\r\nPRIORITY:1\r\n") +
                   todo("done", "SUMMARY:Done\r\nSTATUS:COMPLETED\r\n") +
                   todo("gone", "SUMMARY:Gone\r\nSTATUS:CANCELLED\r\n"))},
         {"shopping", "Shopping", true,
          calendar(todo("bread-2", "SUMMARY:Bread\r\nPRIORITY:2\r\n") +
                   todo("bread-1", "SUMMARY:Bread\r\nPRIORITY:1\r\n") + kMilk)},
         {"chores", "Chores", true, calendar(todo("dishes", "SUMMARY:Dishes\r\n"))},
         {"inbox", "Inbox", true, calendar("")},
         {"work", "Work", true, calendar(todo("report", "SUMMARY:Report\r\n")), true}});
    options_->env["DBUS_SESSION_BUS_ADDRESS"] = eds_->busAddress();
    options_->timeout = 30s;
    settings(R"({"access": {"events": "full-access", "reminders": "full-access"}})");
  }

  static void TearDownTestSuite() {
    delete eds_;
    fs::remove_all(*home_);
    delete home_;
    delete options_;
  }

  static void settings(const std::string& json) {
    fs::create_directories(*home_ / "config/vantrel");
    std::ofstream(*home_ / "config/vantrel/calendar.json") << json;
  }

  static void write(const std::string& name, const std::string& json) { std::ofstream(*home_ / name) << json; }

  static e2e::ProcessResult run(const std::vector<std::string>& args, e2e::ProcessOptions options = *options_) {
    return e2e::runProcess(TALLOWICK_BIN, args, options);
  }

  static void expectOutput(const e2e::ProcessResult& r, const std::string& out) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }

  static void expectFailure(const e2e::ProcessResult& r, const std::string& line) {
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line + "\n");
    EXPECT_EQ(r.status, 1);
  }

  // Another client of the same EDS: this test process, through the module.
  static tallowick::eds::EdsService& otherClient() {
    static std::unique_ptr<tallowick::eds::EdsService> client = [] {
      ::setenv("DBUS_SESSION_BUS_ADDRESS", eds_->busAddress().c_str(), 1);
      void* module = ::dlopen(EDS_MODULE, RTLD_NOW | RTLD_LOCAL);
      auto factory =
          reinterpret_cast<tallowick::eds::EdsServiceFactory>(::dlsym(module, tallowick::eds::edsServiceFactoryName));
      std::unique_ptr<tallowick::eds::EdsService> c(factory(tallowick::eds::edsServiceInterfaceVersion));
      EXPECT_EQ(c->connect().error, "");
      return c;
    }();
    return *client;
  }

  static std::string taskText(const std::string& list, const std::string& uid) {
    auto answer = otherClient().task(list, uid, "");
    EXPECT_EQ(answer.error, "");
    return answer.value;
  }

  static inline e2e::ProcessOptions* options_;
  static inline fs::path* home_;
  static inline e2e::PrivateEds* eds_;
};

std::string event(const std::string& title, const std::string& start, const std::string& end, bool allDay,
                  const std::string& location = "") {
  return R"({"title":")" + title + R"(","startDate":")" + start + R"(","endDate":")" + end + R"(","isAllDay":)" +
         (allDay ? "true" : "false") + R"(,"location":")" + location + R"(","calendar":"Family","notes":""})";
}

TEST_F(Eds, EventsOfEveryYearAreExpandedByTallowick) {
  // EDS's own expansion gives nothing before 1970 and drops endless rules
  // after 2038; the calendar called Holidays is skipped as any other would be.
  expectOutput(run({"events", "1960-01-04", "1960-01-10"}),
               "[" + event("Chess club", "1960-01-05T19:00:00", "1960-01-05T21:00:00", false) + "]\n");
  expectOutput(run({"events", "2024-03-07", "2024-03-21"}),
               "[" + event("Swimming", "2024-03-07T13:00:00", "2024-03-07T14:00:00", false) + "," +
                   event("Fair", "2024-03-08T00:00:00", "2024-03-09T23:59:59", true, "Town hall") + "," +
                   event("Call", "2024-03-08T17:00:00", "2024-03-08T17:30:00", false) + "," +
                   event("Swimming (later)", "2024-03-14T13:00:00", "2024-03-14T14:00:00", false) + "," +
                   event("Swimming (later)", "2024-03-21T13:00:00", "2024-03-21T14:00:00", false) + "]\n");
  expectOutput(run({"events", "2600-07-01", "2600-07-07"}),
               "[" + event("Launch day", "2600-07-04T18:00:00", "2600-07-04T19:00:00", false) + "]\n");
}

TEST_F(Eds, RemindersAreTheOpenTasksAndListsComeByTitle) {
  e2e::ProcessResult r = run({"reminders"});
  EXPECT_EQ(r.err, "");
  EXPECT_NE(
      r.out.find(R"({"title":"Bank","completed":false,"priority":1,"dueDate":"2024-03-11T10:00:00","list":"Errands",)"
                 R"("notes":""},{"title":"Milk","completed":false,"priority":5,"dueDate":"2024-03-09T00:00:00",)"
                 R"("list":"Errands","notes":"Two litres, organic"})"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Done"), std::string::npos);
  EXPECT_EQ(r.out.find("Gone"), std::string::npos);
  expectOutput(run({"reminder-lists"}), R"(["Chores","Errands","Inbox","Personal","Shopping","Work"])"
                                        "\n");
}

TEST_F(Eds, AddReminderGoesToItsListElseTheDefaultsAndNeverToAReadOnlyOne) {
  struct Case {
    std::string settings, listName, title, landsIn;
  };
  const std::string access = R"("access": {"events": "full-access", "reminders": "full-access"})";
  for (const Case& c :
       std::vector<Case>{{"{" + access + "}", "Inbox", "Stamps", "Inbox"},
                         {"{" + access + "}", "Nowhere", "Soap", "Personal"},
                         {"{" + access + R"(, "defaultReminderList": "Inbox"})", "Nowhere", "Tea", "Inbox"}}) {
    settings(c.settings);
    write("add.json", R"({"title":")" + c.title + R"(","listName":")" + c.listName +
                          R"(","priority":3,"dueDate":"2024-05-01T10:00:00","notes":null})");
    expectOutput(run({"add-reminder", "add.json"}), "{\"ok\":true}\n");
    EXPECT_NE(run({"reminders"})
                  .out.find(R"({"title":")" + c.title +
                            R"(","completed":false,"priority":3,)"
                            R"("dueDate":"2024-05-01T10:00:00","list":")" +
                            c.landsIn + R"(","notes":""})"),
              std::string::npos)
        << c.title;
  }
  settings("{" + access + "}");
  write("add.json", R"({"title":"Slides","listName":"Work","priority":0})");
  expectFailure(run({"add-reminder", "add.json"}),
                R"(The reminder list "Work" is read-only; the reminder was not saved)");
  write("add.json", R"({"title":"Bad\u0001","listName":"Inbox","priority":0})");
  expectFailure(
      run({"add-reminder", "add.json"}),
      "Cannot save the reminder: its title holds the control character U+0001, which a calendar file cannot hold");
}

TEST_F(Eds, CompleteReminderChangesOnlyTheFirstMatchsCompletion) {
  write("done.json", R"({"title":"Bread","listName":"Shopping"})");
  expectOutput(run({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  EXPECT_NE(taskText("shopping", "bread-1").find("STATUS:COMPLETED"), std::string::npos);
  EXPECT_EQ(taskText("shopping", "bread-2").find("STATUS:COMPLETED"), std::string::npos);

  const std::string before = taskText("shopping", "milk");
  write("done.json", R"({"title":"Milk","listName":"Shopping"})");
  expectOutput(run({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  std::string after = taskText("shopping", "milk");
  for (const char* kept : {"X-TODOMAN-ORDER:3", "TRIGGER:-PT1H", "DESCRIPTION:Two litres\\, organic", "PRIORITY:5"})
    EXPECT_NE(after.find(kept), std::string::npos) << kept << " in " << after;
  EXPECT_NE(after.find("PERCENT-COMPLETE:100"), std::string::npos);

  write("done.json", R"({"title":"Report","listName":"Work"})");
  expectFailure(run({"complete-reminder", "done.json"}),
                R"(The reminder list "Work" is read-only; the reminder was not saved)");
}

TEST_F(Eds, AChangeByAnotherClientBetweenListingAndCompletingIsKept) {
  write("done.json", R"({"title":"Dishes","listName":"Chores"})");
  e2e::ProcessOptions meddled = *options_;
  meddled.env["TALLOWICK_EDS_MODULE"] = OTHER_CLIENT_MODULE;
  meddled.env["EDS_REAL_MODULE"] = EDS_MODULE;
  expectFailure(run({"complete-reminder", "done.json"}, meddled),
                R"(The reminder "Dishes" in "Chores" changed since it was read; the reminder was not saved)");
  std::string text = taskText("chores", "dishes");
  EXPECT_NE(text.find("DESCRIPTION:changed by another client"), std::string::npos) << text;
  EXPECT_EQ(text.find("STATUS:COMPLETED"), std::string::npos) << text;
  // Run again, it completes the task as the other client left it.
  expectOutput(run({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  text = taskText("chores", "dishes");
  EXPECT_NE(text.find("DESCRIPTION:changed by another client"), std::string::npos) << text;
  EXPECT_NE(text.find("STATUS:COMPLETED"), std::string::npos) << text;
}

// Without EDS to answer, a desktop has no calendars there: the empty store,
// unless the settings name EDS, which then fails with one line, in seconds.
TEST_F(Eds, WithoutABusOrEdsTheStoreIsEmptyUnlessEdsIsNamed) {
  e2e::PrivateBus bare(*home_ / "bare", {}, false);
  std::ofstream(*home_ / "dead") << "";
  struct Case {
    const char* name;
    std::map<std::string, std::optional<std::string>> env;
    std::string named;  // the line when the settings name EDS
  };
  const std::vector<Case> cases{
      {"no bus",
       {},
       "Cannot reach evolution-data-server: there is no session bus (DBUS_SESSION_BUS_ADDRESS is not set and "
       "$XDG_RUNTIME_DIR/bus does not exist)"},
      {"bus without EDS",
       {{"DBUS_SESSION_BUS_ADDRESS", bare.address()}},
       "evolution-data-server is not installed: the session bus offers no org.gnome.evolution.dataserver.Sources5"},
      {"module missing",
       {{"DBUS_SESSION_BUS_ADDRESS", eds_->busAddress()}, {"TALLOWICK_EDS_MODULE", "/nowhere/eds.so"}},
       "Cannot load the evolution-data-server module /nowhere/eds.so: cannot open shared object file: No such file or "
       "directory"},
  };
  const std::string access = R"("access": {"events": "full-access", "reminders": "full-access"})";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::ProcessOptions options = *options_;
    options.env.erase("DBUS_SESSION_BUS_ADDRESS");
    for (const auto& [name, value] : c.env) options.env[name] = value;
    settings("{" + access + "}");
    expectOutput(run({"events", "2024-03-07", "2024-03-21"}, options), "[]\n");
    settings("{" + access + R"(, "backend": "eds"})");
    expectFailure(run({"events", "2024-03-07", "2024-03-21"}, options), c.named);
  }
  settings("{" + access + "}");
}

TEST_F(Eds, AStuckFactoryFailsInSeconds) {
  ::kill(eds_->factory(), SIGSTOP);
  auto start = std::chrono::steady_clock::now();
  e2e::ProcessResult r = run({"reminder-lists"});
  ASSERT_EQ(r.status, 0);  // the lists come from the registry
  r = run({"reminders"});
  auto took = std::chrono::steady_clock::now() - start;
  ::kill(eds_->factory(), SIGCONT);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("Cannot open \"") &&
              r.err.ends_with("\": evolution-data-server did not answer within 5 seconds\n"))
      << r.err;
  EXPECT_LT(took, 8s);
}

}  // namespace
