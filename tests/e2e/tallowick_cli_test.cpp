// The tallowick binary as the host runs it: exact stdout bytes, the stderr
// line and the exit status. Each test gets its own empty home, settings and
// store, so nothing of the machine's own calendars is read or written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/expect.h"
#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using e2e::expectFailure;

const std::string kUsage =
    "Usage: tallowick <events|reminders|reminder-lists|add-reminder|complete-reminder|request-access> [...]";

class TallowickCli : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("tallowick_e2e_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_ / "config" / "vantrel");
    fs::create_directories(home_ / "data" / "calendars" / "home");
    options_.env["HOME"] = home_.string();
    options_.env["XDG_CONFIG_HOME"] = (home_ / "config").string();
    options_.env["XDG_DATA_HOME"] = (home_ / "data").string();
    options_.env["TZ"] = "America/New_York";
    options_.workingDirectory = home_.string();
  }
  void TearDown() override { fs::remove_all(home_); }

  void grantAccess() {
    write("config/vantrel/calendar.json", R"({"access":{"events":"full-access","reminders":"full-access"}})");
  }
  void write(const std::string& relative, const std::string& content) {
    std::ofstream(home_ / relative, std::ios::binary) << content;
  }
  e2e::ProcessResult run(const std::vector<std::string>& args) { return e2e::runProcess(TALLOWICK_BIN, args, options_); }

  fs::path home_;
  e2e::ProcessOptions options_;
};


TEST_F(TallowickCli, UsageErrors) {
  expectFailure(run({}), kUsage);
  expectFailure(run({"events"}), "events requires <startISO> <endISO>");
  expectFailure(run({"events", "2024-05-01"}), "events requires <startISO> <endISO>");
  expectFailure(run({"add-reminder"}), "add-reminder requires <request.json>");
  expectFailure(run({"complete-reminder"}), "complete-reminder requires <request.json>");
  expectFailure(run({"request-access"}), "request-access requires <events|reminders>");
  expectFailure(run({"request-access", "Events"}), "request-access kind must be 'events' or 'reminders'");
  expectFailure(run({"Reminders"}), "Unknown subcommand: Reminders");
  expectFailure(run({"reminders "}), "Unknown subcommand: reminders ");
  expectFailure(run({""}), "Unknown subcommand: ");
}

TEST_F(TallowickCli, ExtraArgumentsAreIgnored) {
  grantAccess();
  auto r = run({"reminder-lists", "surplus", "--verbose"});
  EXPECT_EQ(r.out, "[\"home\"]\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = run({"events", "2024-05-01", "2024-05-07", "extra"});
  EXPECT_EQ(r.out, "[]\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(TallowickCli, AccessErrorsAndRefusalsWithoutATerminal) {
  write("config/vantrel/calendar.json", R"({"access":{"events":"denied","reminders":"write-only"}})");
  expectFailure(run({"events", "garbage", "2024-05-01"}),
                "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.");
  expectFailure(run({"reminders"}),
                "Reminders access is write-only. Grant full access in System Settings > Privacy & Security > Reminders.");
  auto r = run({"request-access", "events"});
  EXPECT_EQ(r.out, "{\"granted\":false}\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(TallowickCli, AddListAndCompleteAReminder) {
  grantAccess();
  write("add.json", R"({"title":"Pay rent / May","listName":"home","priority":5,"dueDate":"2024-05-01T14:30:45",)"
                    R"("notes":null,"unknown":true})");
  auto r = run({"add-reminder", "add.json"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "{\"ok\":true}\n");
  EXPECT_EQ(r.status, 0);

  r = run({"reminders"});
  EXPECT_EQ(r.out,
            R"([{"title":"Pay rent \/ May","completed":false,"priority":5,"dueDate":"2024-05-01T14:30:00",)"
            R"("list":"home","notes":""}])"
            "\n");

  write("complete.json", R"({"title":"Pay rent / May","listName":"home"})");
  r = run({"complete-reminder", (home_ / "complete.json").string()});
  EXPECT_EQ(r.out, "{\"ok\":true}\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(run({"reminders"}).out, "[]\n");
}

TEST_F(TallowickCli, BadRequestFilesFailBeforeAnyStoreAccess) {
  // Access left undecided: reaching the store would ask, and without a
  // terminal or display the answer would be a refusal, not these messages.
  expectFailure(run({"add-reminder", "missing.json"}),
                "Cannot read request file missing.json: No such file or directory");
  write("bad.json", "{\"title\": 3, \"listName\": \"home\"}");
  expectFailure(run({"complete-reminder", "bad.json"}),
                "Invalid request file bad.json: member \"title\" must be a string, not a number");
  write("nopriority.json", R"({"title":"T","listName":"home"})");
  expectFailure(run({"add-reminder", "nopriority.json"}),
                "Invalid request file nopriority.json: member \"priority\" is missing");
  write("notjson.json", "title: T\n");
  auto notJson = run({"add-reminder", "notjson.json"});
  EXPECT_EQ(notJson.out, "");
  EXPECT_EQ(notJson.err, "Invalid request file notjson.json: not valid JSON at byte 2: invalid literal\n");
  EXPECT_EQ(notJson.status, 1);
  EXPECT_FALSE(fs::exists(home_ / "config" / "vantrel" / "calendar.json"));
}

TEST_F(TallowickCli, FifosAndDevicesAreRefusedInsteadOfBlocking) {
  ASSERT_EQ(::mkfifo((home_ / "fifo.json").c_str(), 0600), 0);
  expectFailure(run({"add-reminder", "fifo.json"}), "Cannot read request file fifo.json: not a regular file");
  expectFailure(run({"complete-reminder", "/dev/zero"}), "Cannot read request file /dev/zero: not a regular file");
}

}  // namespace
