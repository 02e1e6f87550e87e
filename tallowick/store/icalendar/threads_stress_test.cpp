// Parsing and expanding files on several threads at once, in fresh processes.
//
// libical sets up its zone tables lazily on first use, so a race there can
// only show in a process that has not used libical yet. The test process
// therefore never calls libical: each trial is a forked child that starts many
// threads at the same moment, all reading files that name UTC times, system
// zones (current and deprecated names) and zones of their own, then checks
// libical's zone table and the threads' answers, and reports by its exit
// status.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::calendar;
using testing::utc;

// Without the set-up in libical_threads.cpp three trials in four fail; more
// can be asked for with STRESS_TRIALS.
const int trials = std::getenv("STRESS_TRIALS") ? std::atoi(std::getenv("STRESS_TRIALS")) : 40;
constexpr int threadsPerTrial = 8;

const std::string ownZone =
    "BEGIN:VTIMEZONE\nTZID:Europe/Berlin\nBEGIN:STANDARD\nDTSTART:19701025T030000\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\nEND:STANDARD\n"
    "BEGIN:DAYLIGHT\nDTSTART:19700329T020000\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\nTZOFFSETFROM:+0100\n"
    "TZOFFSETTO:+0200\nEND:DAYLIGHT\nEND:VTIMEZONE\n";

// The files each thread reads, in turn from its own starting point: one that
// only names UTC times (libical's zone table is set up on the first of them),
// one with a zone of its own, and events and todos in system zones, current
// and deprecated names, many of them so that lookups go on all through the
// set-up.
std::vector<std::string> files() {
  const char* zones[] = {"Europe/Berlin", "America/New_York", "US/Eastern", "Asia/Calcutta", "Australia/Sydney",
                         "GB", "Asia/Tokyo", "Europe/Kiev", "America/Chicago", "America/Denver",
                         "America/Los_Angeles", "Pacific/Honolulu", "America/Caracas", "Asia/Ho_Chi_Minh",
                         "Africa/Johannesburg", "Africa/Harare", "Asia/Tashkent", "Europe/Vatican", "Japan",
                         "Poland", "Iceland", "Egypt", "Asia/Saigon", "US/Pacific"};
  std::vector<std::string> out;
  out.push_back(calendar("BEGIN:VEVENT\nUID:u\nDTSTAMP:20260101T000000Z\nDTSTART:20260106T090000Z\nEND:VEVENT\n"));
  std::string todos;
  for (const char* zone : zones) {
    std::string z(zone);
    todos += "BEGIN:VTODO\nUID:t" + z + "\nDUE;TZID=" + z + ":20260108T120000\nEND:VTODO\n";
  }
  out.push_back(calendar(todos));
  for (size_t i = 0; i < 4; ++i) {
    std::string z(zones[i]);
    out.push_back(calendar("BEGIN:VEVENT\nUID:" + z + "\nDTSTART;TZID=" + z + ":20260106T090000\nDTEND;TZID=" + z +
                           ":20260106T100000\nRRULE:FREQ=DAILY;COUNT=5\nEXDATE;TZID=" + z +
                           ":20260107T090000\nEND:VEVENT\n"));
  }
  out.push_back(calendar(ownZone +
                         "BEGIN:VEVENT\nUID:o\nDTSTAMP:20260101T000000Z\nDTSTART;TZID=Europe/Berlin:20260106T090000\n"
                         "RRULE:FREQ=WEEKLY\nEND:VEVENT\n"));
  return out;
}

int64_t secondsOf(Instant t) { return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count(); }

// What one thread does with a file: everything the store does with it. The
// result is written down so that the threads' answers can be compared.
std::string readFile(const std::string& text) {
  std::optional<CalendarFile> file = testing::parseFile(text);
  if (!file) return "unparsed;";
  std::string out;
  for (const EventOccurrence& o : testing::occurrencesOf(*file, utc(2026, 1, 5), utc(2026, 1, 11, 23, 59, 59)))
    out += std::to_string(secondsOf(o.start)) + "-" + std::to_string(secondsOf(o.end)) + ",";
  for (const TodoItem& todo : file->todos())
    if (todo.due) out += "due " + std::to_string(*todo.due->hour) + " " + todo.due->timeZone.value_or("") + ",";
  EventSpan span = file->eventSpan();
  out += std::to_string(secondsOf(span.first)) + ";";
  return out;
}

int runTrial(const std::vector<std::string>& texts) {
  std::latch start(threadsPerTrial);
  std::vector<std::thread> threads;
  std::vector<std::vector<std::string>> answers(threadsPerTrial, std::vector<std::string>(texts.size()));
  for (int t = 0; t < threadsPerTrial; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      // Thread 0 begins with the UTC file, the others with the todos.
      size_t first = t == 0 ? 0 : 1;
      for (size_t i = first; i < texts.size() + first; ++i)
        answers[t][i % texts.size()] = readFile(texts[i % texts.size()]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  // libical's shared zone table must hold each zone once: a lookup racing
  // its set-up adds zones a second time, or leaves entries half written.
  std::set<std::string> seen;
  icalarray* table = icaltimezone_get_builtin_timezones();
  for (size_t i = 0; i < table->num_elements; ++i) {
    const char* location = icaltimezone_get_location(static_cast<icaltimezone*>(icalarray_element_at(table, i)));
    if (!location || !seen.insert(location).second) return 3;
  }
  // Once every zone is set up, one thread's reading is the reference.
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string reference = readFile(texts[i]);
    for (int t = 0; t < threadsPerTrial; ++t)
      if (answers[t][i] != reference) return 2;
  }
  return 0;
}

TEST(LibicalThreads, FreshProcessesParseAndExpandOnManyThreadsAtOnce) {
  const std::vector<std::string> texts = files();
  int failed = 0;
  std::string statuses;
  for (int trial = 0; trial < trials; ++trial) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(runTrial(texts));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failed;
      statuses += WIFSIGNALED(status) ? " signal " + std::to_string(WTERMSIG(status))
                                      : " status " + std::to_string(WEXITSTATUS(status));
    }
  }
  EXPECT_EQ(failed, 0) << "of " << trials << " trials:" << statuses;
}

}  // namespace
}  // namespace tallowick::ical
