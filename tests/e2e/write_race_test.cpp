// Races against the calendar store's writes, with real processes: two
// tallowick runs at once, tallowick against writers that take no lock (a sync
// tool replacing the file by rename, an editor rewriting it in place), two
// access answers at once, and runs killed in the middle of a write. Every
// trial starts from the same file, so a lost update shows as a missing line.
// Each test prints how often each outcome came up, since that shows which
// paths of the write the trials went through.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// Every run is several times slower under the sanitizers: fewer trials there.
#ifdef __SANITIZE_ADDRESS__
constexpr int trialDivisor = 4;
#else
constexpr int trialDivisor = 1;
#endif
constexpr int trials(int n) { return n / trialDivisor; }

// A few faults say all there is to say; the rest of the trials are skipped.
constexpr int maxProblems = 3;

const std::string okLine = "{\"ok\":true}\n";

// Two todos in one file. A has a folded description and an alarm, so its
// completion has bytes to keep on both sides of the lines it writes.
const std::string original =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//race//EN\r\n"
    "BEGIN:VTODO\r\nUID:a\r\nSUMMARY:A\r\n"
    "DESCRIPTION:A description long enough to be folded over two lines\\, as\r\n"
    "  calendar programs write them\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\nEND:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:b\r\nSUMMARY:B\r\nPRIORITY:3\r\nEND:VTODO\r\n"
    "END:VCALENDAR\r\n";

// The version a writer that takes no lock makes of it: a marker in todo A.
std::string withMarker(const std::string& text) {
  const std::string anchor = "UID:a\r\n";
  std::string out = text;
  out.insert(out.find(anchor) + anchor.size(), "X-OTHER:1\r\n");
  return out;
}
const std::string otherVersion = withMarker(original);

// The file without the lines a completion writes, and how many there were.
std::pair<std::string, int> withoutCompletionLines(const std::string& text) {
  static const std::vector<std::string> names{"STATUS:", "COMPLETED:", "PERCENT-COMPLETE:", "LAST-MODIFIED:",
                                              "SEQUENCE:"};
  std::string kept;
  int removed = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? text.size() : lf + 1;
    std::string_view line(text.data() + pos, end - pos);
    if (std::any_of(names.begin(), names.end(), [&](const std::string& n) { return line.rfind(n, 0) == 0; }))
      ++removed;
    else
      kept.append(line);
    pos = end;
  }
  return {kept, removed};
}

bool isCompleted(const std::string& text, const std::string& uid) {
  size_t begin = text.find("BEGIN:VTODO\r\nUID:" + uid + "\r\n");
  if (begin == std::string::npos) return false;
  size_t end = text.find("END:VTODO\r\n", begin);
  return text.substr(begin, end - begin).find("\r\nSTATUS:COMPLETED\r\n") != std::string::npos;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) throw std::runtime_error("write failed");
    done += static_cast<size_t>(n);
  }
}

void setMtimeBack(const fs::path& path, int seconds) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

bool isOurTempName(const std::string& name) {
  return name.rfind(".tallowick-", 0) == 0 && name.size() > 15 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// How a completion run ended: saved (or nothing to save), refused because the
// file changed under it, or anything else, which is a fault.
enum class Outcome { ok, changed, other };

class WriteRace : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = e2e::makeTempHome("tallowick-race", "UTC", options_);
    write("config/vantrel/calendar.json",
          R"({"access": {"events": "full-access", "reminders": "full-access"}, "defaultReminderList": "Errands"})");
    write("data/calendars/errands/displayname", "Errands\n");
    write("a.json", R"({"title":"A","listName":"Errands"})");
    write("b.json", R"({"title":"B","listName":"Errands"})");
    collection_ = home_ / "data/calendars/errands";
    item_ = collection_ / "pair.ics";
    changedLine_ = item_.string() + " changed on disk since it was read; the reminder was not saved\n";
    reset();
  }
  void TearDown() override { fs::remove_all(home_); }

  void write(const std::string& relative, const std::string& content) {
    fs::create_directories((home_ / relative).parent_path());
    std::ofstream(home_ / relative, std::ios::binary) << content;
  }

  // The original file back, and no summary cache, so no trial lists from
  // what an earlier one left.
  void reset() {
    fs::remove(home_ / "cache/vantrel/calendar-index");
    write("data/calendars/errands/pair.ics", original);
  }

  std::unique_ptr<e2e::RunningProcess> start(const std::vector<std::string>& args) {
    return std::make_unique<e2e::RunningProcess>(TALLOWICK_BIN, args, options_);
  }

  Outcome outcomeOf(const e2e::ProcessResult& r) const {
    if (r.out == okLine && r.err.empty() && r.status == 0) return Outcome::ok;
    if (r.out.empty() && r.err == changedLine_ && r.status == 1) return Outcome::changed;
    return Outcome::other;
  }

  // The median time of a few whole runs, from start to exit; the random
  // moments of the trials are spread over it.
  microseconds runTime(const std::vector<std::string>& args, const std::function<void()>& after) {
    std::vector<microseconds> times;
    for (int i = 0; i < 3; ++i) {
      auto begin = Clock::now();
      e2e::ProcessResult r = e2e::runProcess(TALLOWICK_BIN, args, options_);
      times.push_back(std::chrono::duration_cast<microseconds>(Clock::now() - begin));
      EXPECT_EQ(r.out, okLine) << r.err;
      after();
    }
    std::sort(times.begin(), times.end());
    return times[1];
  }

  // Names in the collection other than the fixture's own.
  std::vector<std::string> strayNames() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(collection_)) {
      std::string name = e.path().filename().string();
      if (name != "displayname" && name != "pair.ics") names.push_back(name);
    }
    return names;
  }

  static void report(const std::string& what) {
    std::cout << "[ figures  ] " << what << "\n";
    ::testing::Test::RecordProperty("figures", what);
  }

  fs::path home_;
  fs::path collection_;
  fs::path item_;
  std::string changedLine_;
  e2e::ProcessOptions options_;
  std::mt19937 random_{20261208};
};

// Two completions of different todos in one file, started a random moment
// apart: each either saves or is refused as changed, and nothing it was told
// was saved is ever missing afterwards.
TEST_F(WriteRace, TwoCompletionsOfOneFileLoseNothing) {
  const microseconds span = runTime({"complete-reminder", "a.json"}, [&] { reset(); }) / 3;
  std::uniform_int_distribution<long> gap(0, span.count());
  int bothOk = 0, oneRefused = 0, problems = 0;
  const int count = trials(80);
  for (int t = 0; t < count && problems < maxProblems; ++t) {
    reset();
    bool aFirst = t % 2 == 0;
    auto first = start({"complete-reminder", aFirst ? "a.json" : "b.json"});
    std::this_thread::sleep_for(microseconds(gap(random_)));
    auto second = start({"complete-reminder", aFirst ? "b.json" : "a.json"});
    e2e::ProcessResult r1 = first->finish(), r2 = second->finish();
    const e2e::ProcessResult& ra = aFirst ? r1 : r2;
    const e2e::ProcessResult& rb = aFirst ? r2 : r1;
    const std::string text = readFile(item_);
    auto [rest, statusLines] = withoutCompletionLines(text);
    Outcome oa = outcomeOf(ra), ob = outcomeOf(rb);
    std::string problem;
    if (oa == Outcome::other || ob == Outcome::other)
      problem = "unexpected run: A " + ra.out + ra.err + ", B " + rb.out + rb.err;
    else if (oa == Outcome::changed && ob == Outcome::changed)
      problem = "both refused though only they wrote";
    else if ((oa == Outcome::ok) != isCompleted(text, "a") || (ob == Outcome::ok) != isCompleted(text, "b"))
      problem = std::string("lost update: A ") + (oa == Outcome::ok ? "ok" : "refused") + ", B " +
                (ob == Outcome::ok ? "ok" : "refused") + ", file:\n" + text;
    else if (rest != original || statusLines != 5 * ((oa == Outcome::ok) + (ob == Outcome::ok)))
      problem = "bytes outside the status lines changed:\n" + text;
    else if (!strayNames().empty())
      problem = "left " + strayNames().front() + " behind";
    if (!problem.empty()) {
      ADD_FAILURE() << "trial " << t << ": " << problem;
      ++problems;
    }
    (oa == Outcome::ok && ob == Outcome::ok ? bothOk : oneRefused)++;
  }
  report("two completions at once: " + std::to_string(bothOk + oneRefused) + " trials, both ok " + std::to_string(bothOk) +
         ", one refused as changed " + std::to_string(oneRefused));
}

// What happened in a collection during one trial, in the kernel's order:
// which names were written to, and when our temporary file was closed. A
// file's events carry the name it has at that moment, so a write to the old
// version after our swap shows under the temporary name.
class DirectoryEvents {
 public:
  explicit DirectoryEvents(const fs::path& directory) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ < 0 || ::inotify_add_watch(fd_, directory.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0)
      throw std::runtime_error("inotify failed");
  }
  ~DirectoryEvents() { ::close(fd_); }
  DirectoryEvents(const DirectoryEvents&) = delete;
  DirectoryEvents& operator=(const DirectoryEvents&) = delete;

  // Returns once our temporary file has had its bytes written: its fsync,
  // the last check and the swap follow. Or once `finished` is set without
  // that, or at `deadline`. It spins, since waking from a sleep takes longer
  // than the rest of the write does, and notes when each event was seen.
  void awaitOurWrite(const std::atomic<bool>& finished, Clock::time_point deadline = Clock::time_point::max()) {
    spinUntil(IN_MODIFY, finished, deadline);
  }
  void awaitOurClose(const std::atomic<bool>& finished) {
    spinUntil(IN_CLOSE_WRITE, finished, Clock::time_point::max());
  }

  // Takes in what events there are, without waiting.
  void collect() {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) {
      const auto now = Clock::now();
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        events_.push_back({event->mask, event->len > 0 ? std::string(event->name) : std::string(), now});
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  // From the bytes of our temporary file to its close (the fsync, mostly),
  // when both were seen while spinning.
  std::optional<microseconds> ourWriteToClose() const {
    std::optional<Clock::time_point> written, closed;
    for (const Event& e : events_) {
      if (!isOurTempName(e.name)) continue;
      if ((e.mask & IN_MODIFY) && !written) written = e.seen;
      if ((e.mask & IN_CLOSE_WRITE) && !closed) closed = e.seen;
    }
    if (!written || !closed) return std::nullopt;
    return std::chrono::duration_cast<microseconds>(*closed - *written);
  }

  // Whether another program's writes in place all reached the old version
  // only after our swap had given it the temporary name: none under the
  // file's own name, some under the temporary name after our temporary file
  // was closed (our own writes to it all come before that).
  bool otherWroteOnlyAfterTheSwap() {
    collect();
    bool closed = false, afterSwap = false;
    for (const auto& [mask, name, seen] : events_) {
      if (!isOurTempName(name)) {
        if (mask & IN_MODIFY) return false;  // the file at the path itself
      } else if (mask & IN_CLOSE_WRITE) {
        closed = true;
      } else if (closed && (mask & IN_MODIFY)) {
        afterSwap = true;
      }
    }
    return afterSwap;
  }

 private:
  struct Event {
    uint32_t mask;
    std::string name;
    Clock::time_point seen;
  };

  void spinUntil(uint32_t mask, const std::atomic<bool>& finished, Clock::time_point deadline) {
    auto seen = [&] {
      return std::any_of(events_.begin(), events_.end(),
                         [&](const Event& e) { return (e.mask & mask) && isOurTempName(e.name); });
    };
    while (!finished && !seen() && Clock::now() < deadline) collect();
  }

  int fd_;
  std::vector<Event> events_;
};

// A writer that takes no lock and writes once, made ready before the trial
// so that the write itself is one or two calls. By rename, as a sync tool
// does: the whole version in a file of its own, renamed over ours. In place,
// as an editor that saves in place does: the same inode rewritten, by a
// descriptor opened at the start, or at the moment of writing when `late`.
class OtherWriter {
 public:
  OtherWriter(const fs::path& item, bool inPlace, bool late) : item_(item), inPlace_(inPlace) {
    if (!inPlace) {
      temp_ = item.parent_path() / "other-writer.partial";
      int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) throw std::runtime_error("open failed");
      writeAll(fd, otherVersion);
      ::close(fd);
    } else if (!late) {
      open();
    }
  }
  ~OtherWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  OtherWriter(const OtherWriter&) = delete;
  OtherWriter& operator=(const OtherWriter&) = delete;

  void write() {
    if (!inPlace_) {
      if (::rename(temp_.c_str(), item_.c_str()) != 0) throw std::runtime_error("rename failed");
      return;
    }
    if (fd_ < 0) open();
    // Never shorter than what it overwrites: the original or our completed
    // version, whichever the descriptor has.
    if (::pwrite(fd_, otherVersion.data(), otherVersion.size(), 0) != static_cast<ssize_t>(otherVersion.size()) ||
        ::ftruncate(fd_, static_cast<off_t>(otherVersion.size())) != 0)
      throw std::runtime_error("write failed");
  }

 private:
  void open() {
    fd_ = ::open(item_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("open failed");
  }

  fs::path item_;
  fs::path temp_;
  bool inPlace_;
  int fd_ = -1;
};

// One completion of A against one write by another program. A fault is
// tallowick reporting ok while the other program's change is gone, or
// refusing and not leaving the other program's version exactly.
class OtherWriterRace : public WriteRace {
 protected:
  // Half the trials write at a random moment of the whole run. The other
  // half are aimed at the last check: they write at a random moment from
  // the bytes of our temporary file to a little after its close (the fsync,
  // then the final compare and the swap), as long as that took when last
  // seen (2 ms until then).
  void race(bool inPlace, const std::string& label) {
    const microseconds span = runTime({"complete-reminder", "a.json"}, [&] { reset(); });
    std::uniform_int_distribution<long> moment(0, span.count());
    microseconds writeTime(2000);
    std::map<std::string, int> counts[2];
    int problems = 0, ran = 0;
    const int count = trials(60);
    for (int t = 0; t < count && problems < maxProblems; ++t, ++ran) {
      reset();
      const bool aimed = t % 2 == 1;
      const long range = aimed ? writeTime.count() * 5 / 4 : span.count();
      const auto delay = microseconds(std::uniform_int_distribution<long>(0, range)(random_));
      DirectoryEvents events(collection_);
      OtherWriter writer(item_, inPlace, !aimed);
      std::atomic<bool> finished{false};
      const auto begin = Clock::now();
      auto run = start({"complete-reminder", "a.json"});
      std::thread other([&] {
        if (!aimed) {
          std::this_thread::sleep_until(begin + delay);
          writer.write();
          return;
        }
        events.awaitOurWrite(finished);
        for (const auto until = Clock::now() + delay; Clock::now() < until;) events.collect();
        writer.write();
        events.awaitOurClose(finished);
      });
      e2e::ProcessResult r = run->finish();
      finished = true;
      other.join();
      if (aimed) writeTime = events.ourWriteToClose().value_or(writeTime);
      std::string problem = classify(r, inPlace && events.otherWroteOnlyAfterTheSwap(), counts[aimed]);
      if (!problem.empty()) {
        ADD_FAILURE() << label << ", trial " << t << (aimed ? ", aimed, " : ", ") << delay.count()
                      << " us: " << problem;
        ++problems;
      }
    }
    for (bool aimed : {false, true}) {
      std::string line = label + (aimed ? ", from our temporary file's write to its close (and 1/4 more): "
                                        : ", at a moment of the run (0-" + std::to_string(span.count()) + " us): ") +
                         std::to_string((ran + !aimed) / 2) + " trials";
      for (const auto& [what, n] : counts[aimed]) line += "; " + what + " " + std::to_string(n);
      report(line);
    }
    EXPECT_TRUE(strayNames().empty()) << strayNames().front();
  }

  // Counts the trial's outcome, or says what is wrong with it.
  std::string classify(const e2e::ProcessResult& r, bool onlyAfterTheSwap, std::map<std::string, int>& counts) {
    const std::string text = readFile(item_);
    auto [rest, statusLines] = withoutCompletionLines(text);
    const Outcome outcome = outcomeOf(r);
    if (outcome == Outcome::other) return "unexpected run: " + r.out + r.err;
    if (outcome == Outcome::changed) {
      if (text != otherVersion) return "refused, but the other version is not what is left:\n" + text;
      ++counts["refused as changed, the other version left as written"];
    } else if (text == otherVersion) {
      // The other program wrote after our swap: taking no lock, it wins.
      ++counts["ok, then the other version written over ours"];
    } else if (rest == otherVersion && statusLines == 5 && isCompleted(text, "a")) {
      ++counts["ok, both changes kept"];
    } else if (rest == original && statusLines == 5) {
      // The window left to a writer that takes no lock: it wrote to the old
      // file after the swap and after our look at what was swapped out.
      if (!onlyAfterTheSwap) return "ok, but the other writer's change is gone";
      ++counts["lost: written in place to the old file after the swap"];
    } else {
      return "the file is neither version:\n" + text;
    }
    return "";
  }
};

TEST_F(OtherWriterRace, ARenameByASyncToolIsNeverOverwritten) { race(false, "against a rename"); }

TEST_F(OtherWriterRace, AnInPlaceRewriteIsLostOnlyWhenItLandsAfterTheSwap) {
  race(true, "against an in-place rewrite");
}

// Both access questions at once, answered yes by a stand-in for zenity: both
// answers end up in the settings file, whether it existed or not, and the
// rest of it is kept.
TEST_F(WriteRace, TwoAccessAnswersAtOnceAreBothRecorded) {
  write("bin/zenity", "#!/bin/sh\nexit 0\n");
  fs::permissions(home_ / "bin/zenity", fs::perms::owner_all);
  options_.env["DISPLAY"] = ":99";
  options_.env["PATH"] = (home_ / "bin").string() + ":" + std::getenv("PATH");
  const fs::path settingsFile = home_ / "config/vantrel/calendar.json";
  const int count = trials(12);
  int problems = 0, ran = 0;
  for (int t = 0; t < count && problems < maxProblems; ++t, ++ran) {
    const bool existed = t % 2 == 0;
    if (existed) write("config/vantrel/calendar.json", R"({"defaultReminderList": "Errands"})");
    else fs::remove(settingsFile);
    auto events = start({"request-access", "events"});
    auto reminders = start({"request-access", "reminders"});
    e2e::ProcessResult re = events->finish(), rr = reminders->finish();
    const std::string granted = "{\"granted\":true}\n";
    nlohmann::json json = nlohmann::json::parse(readFile(settingsFile), nullptr, false);
    std::string problem;
    if (re.out != granted || !re.err.empty() || re.status != 0 || rr.out != granted || !rr.err.empty() ||
        rr.status != 0)
      problem = "unexpected run: events " + re.out + re.err + ", reminders " + rr.out + rr.err;
    else if (!json.is_object() || json.value("/access/events"_json_pointer, "") != "full-access" ||
             json.value("/access/reminders"_json_pointer, "") != "full-access" ||
             (existed && json.value("defaultReminderList", "") != "Errands"))
      problem = "an answer or a setting is missing: " + readFile(settingsFile);
    if (!problem.empty()) {
      ADD_FAILURE() << "trial " << t << (existed ? " (file existed)" : " (no file)") << ": " << problem;
      ++problems;
    }
  }
  report("two access answers at once: " + std::to_string(ran) + " trials, every answer recorded");
}

// add-reminder killed while it writes, with notes big enough that the write
// itself takes a while: what is left is a complete new file or one of our
// temporary files, never part of a calendar file. A later write to the
// collection removes the temporary ones once they are stale, and only those.
TEST_F(WriteRace, AKilledAddReminderLeavesOnlyATemporaryFileThatALaterWriteRemoves) {
  std::string notes;
  while (notes.size() < 256 * 1024) notes += "a line of notes that goes on and on. ";
  notes += "The end.";
  write("big.json", nlohmann::json{{"title", "Big"}, {"listName", "Errands"}, {"priority", 0}, {"notes", notes}}.dump());
  size_t fullSize = 0;
  auto removeNew = [&] {
    for (const std::string& name : strayNames()) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ics") == 0) {
        fullSize = fs::file_size(collection_ / name);
        fs::remove(collection_ / name);
      }
    }
  };
  const microseconds span = runTime({"add-reminder", "big.json"}, removeNew);
  ASSERT_GT(fullSize, notes.size());

  // Half the kills come at a random moment of the run, the other half at one
  // from the first bytes of our temporary file to a little after its close,
  // as long as that took when last seen (2 ms until then).
  std::uniform_int_distribution<long> moment(0, span.count());
  microseconds writeTime(2000);
  std::set<std::string> temps;
  int saved = 0, withTemp = 0, problems = 0, ran = 0;
  const int count = trials(32);
  for (int t = 0; t < count && problems < maxProblems; ++t, ++ran) {
    const bool aimed = t % 2 == 1;
    {
      DirectoryEvents events(collection_);
      std::atomic<bool> finished{false};
      auto run = start({"add-reminder", "big.json"});
      if (aimed) {
        events.awaitOurWrite(finished, Clock::now() + 4 * span);
        const auto until =
            Clock::now() + microseconds(std::uniform_int_distribution<long>(0, writeTime.count() * 5 / 4)(random_));
        while (Clock::now() < until) events.collect();
      } else {
        std::this_thread::sleep_for(microseconds(moment(random_)));
      }
      run.reset();  // SIGKILL, if it still runs
      events.collect();
      if (aimed) writeTime = events.ourWriteToClose().value_or(writeTime);
    }
    bool leftTemp = false;
    for (const std::string& name : strayNames()) {
      const fs::path path = collection_ / name;
      if (isOurTempName(name)) {
        leftTemp |= temps.insert(name).second;
      } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ics") == 0) {
        std::string text = readFile(path);
        if (text.size() != fullSize || text.compare(text.size() - 15, 15, "END:VCALENDAR\r\n") != 0) {
          ADD_FAILURE() << "trial " << t << ": a partial calendar file " << name << " of " << text.size() << " bytes";
          ++problems;
        }
        ++saved;
        fs::remove(path);
      } else {
        ADD_FAILURE() << "trial " << t << ": left " << name;
        ++problems;
      }
    }
    withTemp += leftTemp;
  }
  report("killed add-reminder: " + std::to_string(ran) + " kills (half aimed at the write); finished first " +
         std::to_string(saved) + ", left a temporary file " + std::to_string(withTemp) + ", left nothing " +
         std::to_string(ran - saved - withTemp));

  // Everything the kills left is made stale, beside one of our own names that
  // is fresh and may belong to a run still writing.
  for (const std::string& name : temps) setMtimeBack(collection_ / name, 301);
  write("data/calendars/errands/.tallowick-x.ics.0123456789abcdef.tmp", "old");
  setMtimeBack(collection_ / ".tallowick-x.ics.0123456789abcdef.tmp", 301);
  write("data/calendars/errands/.tallowick-y.ics.0123456789abcdef.tmp", "fresh");
  write("small.json", R"({"title":"Small","listName":"Errands","priority":0})");
  e2e::ProcessResult r = e2e::runProcess(TALLOWICK_BIN, {"add-reminder", "small.json"}, options_);
  EXPECT_EQ(r.out, okLine) << r.err;
  std::vector<std::string> left;
  for (const std::string& name : strayNames())
    if (isOurTempName(name)) left.push_back(name);
  EXPECT_EQ(left, std::vector<std::string>{".tallowick-y.ics.0123456789abcdef.tmp"});
}

}  // namespace
