// tallowick and Debian's todoman and khal on the same vdir store: what one
// writes, the others read, at the same local times.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

const char* const todomanBin = "/usr/bin/todoman";
const char* const khalBin = "/usr/bin/khal";

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::access(todomanBin, X_OK), 0) << "todoman is missing: run scripts/setup";
    ASSERT_EQ(::access(khalBin, X_OK), 0) << "khal is missing: run scripts/setup";
    home_ = e2e::makeTempHome("tallowick-interop", "Europe/Berlin", options_);
    const std::string calendars = (home_ / "data/calendars").string();
    fs::create_directories(calendars + "/home");
    options_.env["LC_ALL"] = "C.UTF-8";
    write("config/vantrel/calendar.json", R"({"access": {"events": "full-access", "reminders": "full-access"}})");
    write("config/todoman/config.py", "path = \"" + calendars +
                                          "/*\"\ndate_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\n"
                                          "default_list = \"home\"\ndefault_due = 0\n");
    // Events that khal creates get New York time, whose clock changes on
    // 10 March 2024, three weeks before Berlin's; khal writes a VTIMEZONE
    // block that covers only the months around the event.
    write("config/khal/config", "[calendars]\n[[home]]\npath = " + calendars +
                                    "/home\n\n[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n"
                                    "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
                                    "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = Europe/Berlin\n"
                                    "default_timezone = America/New_York\n\n[sqlite]\npath = " +
                                    (home_ / "cache/khal.db").string() + "\n");
    fs::create_directories(home_ / "cache");
  }
  void TearDown() override { fs::remove_all(home_); }

  void write(const std::string& relative, const std::string& content) {
    fs::create_directories((home_ / relative).parent_path());
    std::ofstream(home_ / relative, std::ios::binary) << content;
  }
  e2e::ProcessResult run(const char* binary, const std::vector<std::string>& args) {
    auto r = e2e::runProcess(binary, args, options_);
    EXPECT_EQ(r.status, 0) << binary << " failed: " << r.err;
    return r;
  }
  e2e::ProcessResult tallowick(const std::vector<std::string>& args) { return run(TALLOWICK_BIN, args); }
  nlohmann::json todomanList(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--porcelain", "list"};
    args.insert(args.end(), extra.begin(), extra.end());
    return nlohmann::json::parse(run(todomanBin, args).out);
  }

  fs::path home_;
  e2e::ProcessOptions options_;
};

TEST_F(Interop, TodoCreatedByTodomanIsListedWithItsDueDateAndPriority) {
  run(todomanBin, {"new", "--list", "home", "--due", "2024-05-01 14:30", "--priority", "high", "Water plants"});
  // todoman writes the due date in UTC; tallowick gives it in local time.
  EXPECT_EQ(tallowick({"reminders"}).out,
            R"([{"title":"Water plants","completed":false,"priority":4,"dueDate":"2024-05-01T14:30:00",)"
            R"("list":"home","notes":""}])"
            "\n");
}

TEST_F(Interop, ReminderAddedByTallowickIsListedByTodoman) {
  write("add.json", R"({"title":"Call the plumber, today","listName":"home","priority":1,)"
                    R"("dueDate":"2024-06-02T09:15:00","notes":"Leak under the sink"})");
  EXPECT_EQ(tallowick({"add-reminder", "add.json"}).out, "{\"ok\":true}\n");
  nlohmann::json todos = todomanList();
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0]["summary"], "Call the plumber, today");
  EXPECT_EQ(todos[0]["description"], "Leak under the sink");
  EXPECT_EQ(todos[0]["priority"], 1);
  EXPECT_EQ(todos[0]["list"], "home");
  EXPECT_EQ(todos[0]["completed"], false);
  EXPECT_EQ(todos[0]["due"], 1717312500);  // 2024-06-02 09:15 in Berlin
}

TEST_F(Interop, ReminderCompletedByTallowickIsDoneInTodoman) {
  run(todomanBin, {"new", "--list", "home", "Sweep the floor"});
  run(todomanBin, {"new", "--list", "home", "Dust the shelves"});
  write("done.json", R"({"title":"Sweep the floor","listName":"home"})");
  EXPECT_EQ(tallowick({"complete-reminder", "done.json"}).out, "{\"ok\":true}\n");
  nlohmann::json all = todomanList({"--status", "ANY"});
  ASSERT_EQ(all.size(), 2u);
  for (const auto& todo : all) {
    EXPECT_EQ(todo["completed"], todo["summary"] == "Sweep the floor") << todo.dump();
  }
  nlohmann::json open = todomanList();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0]["summary"], "Dust the shelves");
}

// (start, end, title) as tallowick writes them.
using Listed = std::tuple<std::string, std::string, std::string>;

std::string khalToLocalIso(const std::string& khal, bool end) {
  if (khal.size() == 10) return khal + (end ? "T23:59:59" : "T00:00:00");
  return khal.substr(0, 10) + "T" + khal.substr(11) + ":00";
}

TEST_F(Interop, EventsCreatedByKhalAreListedAtTheSameLocalTimes) {
  run(khalBin, {"new", "-a", "home", "2024-03-06", "09:30", "10:45", "Dentist"});
  run(khalBin, {"new", "-a", "home", "2024-03-08", "Holiday"});
  run(khalBin, {"new", "-a", "home", "-r", "weekly", "2024-03-05", "10:00", "11:00", "Choir"});

  std::vector<Listed> byKhal;
  std::istringstream lines(
      run(khalBin, {"list", "--day-format", "", "--format", "{start}|{end}|{title}", "2024-03-04", "2024-03-24"}).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    size_t a = line.find('|'), b = line.find('|', a + 1);
    ASSERT_NE(b, std::string::npos) << line;
    byKhal.emplace_back(khalToLocalIso(line.substr(0, a), false), khalToLocalIso(line.substr(a + 1, b - a - 1), true),
                        line.substr(b + 1));
  }
  std::vector<Listed> byTallowick;
  for (const auto& e : nlohmann::json::parse(tallowick({"events", "2024-03-04", "2024-03-24"}).out))
    byTallowick.emplace_back(e["startDate"], e["endDate"], e["title"]);
  std::sort(byKhal.begin(), byKhal.end());
  std::sort(byTallowick.begin(), byTallowick.end());
  EXPECT_EQ(byTallowick, byKhal);
  // The weekly event moves by an hour in Berlin when New York changes its clock.
  EXPECT_NE(std::find(byTallowick.begin(), byTallowick.end(),
                      Listed{"2024-03-05T16:00:00", "2024-03-05T17:00:00", "Choir"}),
            byTallowick.end());
  EXPECT_NE(std::find(byTallowick.begin(), byTallowick.end(),
                      Listed{"2024-03-12T15:00:00", "2024-03-12T16:00:00", "Choir"}),
            byTallowick.end());
}

}  // namespace
