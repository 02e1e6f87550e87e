// The chain of ways to ask, run against stand-in dialog programs: small
// scripts on a PATH of their own that log how they were called and exit as a
// person's click (or a failure) would make the real one exit.

#include "tallowick/store/vdir/access_prompt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {

// Found by GoogleTest through the enum's namespace.
void PrintTo(PromptAnswer answer, std::ostream* out) {
  *out << (answer == PromptAnswer::granted ? "granted" : answer == PromptAnswer::refused ? "refused" : "unanswered");
}

namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// How a stand-in behaves: its exit status after `answerAfter`, or killed by
// a signal; `executable` false leaves its execute bits off.
struct StandInDialog {
  std::string name;
  int status = 0;
  bool person = true;  // answers after a person's time, not at once
  bool killed = false;
  bool executable = true;
};

struct PromptCase {
  std::string what;
  std::vector<StandInDialog> programs;
  PromptAnswer expected;
  std::string calls;       // the stand-ins that ran, one line each
  std::string routeTool;   // what promptRoute names
  bool graphical = true;
  std::string terminalInput = "";  // typed on a terminal; empty: no terminal
  EntityType type = EntityType::event;
};

const std::string kEventsQuestion = "Allow vantrel to read and change your calendar events?";
const std::string kRemindersQuestion = "Allow vantrel to read and change your reminders?";
const std::string kZenityEvents = "zenity --question --title=vantrel --text=" + kEventsQuestion + "\n";
const std::string kKdialogEvents = "kdialog --title vantrel --yesno " + kEventsQuestion + "\n";
const std::string kXmessageEvents = "xmessage -center -title vantrel -buttons Allow:0,Don't allow:2 " + kEventsQuestion + "\n";

const PromptCase kPromptCases[] = {
    {"zenity's yes", {{"zenity", 0}, {"kdialog", 0}}, PromptAnswer::granted, kZenityEvents, "zenity"},
    {"zenity's no, or its window closed", {{"zenity", 1}, {"kdialog", 0}}, PromptAnswer::refused, kZenityEvents,
     "zenity"},
    {"zenity cannot open a window: kdialog asks", {{"zenity", 1, false}, {"kdialog", 0}}, PromptAnswer::granted,
     kZenityEvents + kKdialogEvents, "zenity"},
    {"kdialog's no", {{"kdialog", 1}, {"xmessage", 0}}, PromptAnswer::refused, kKdialogEvents, "kdialog"},
    {"zenity fails, kdialog is killed, xmessage's Allow",
     {{"zenity", 255, false}, {"kdialog", 0, false, true}, {"xmessage", 0}}, PromptAnswer::granted,
     kZenityEvents + kKdialogEvents + kXmessageEvents, "zenity"},
    {"xmessage's Don't allow", {{"xmessage", 2}}, PromptAnswer::refused, kXmessageEvents, "xmessage"},
    {"xmessage's window closed", {{"xmessage", 1}}, PromptAnswer::refused, kXmessageEvents, "xmessage"},
    {"xmessage without an X display, no terminal", {{"xmessage", 1, false}}, PromptAnswer::unanswered,
     kXmessageEvents, "xmessage"},
    {"xmessage without an X display, the terminal says y", {{"xmessage", 1, false}}, PromptAnswer::granted,
     kXmessageEvents, "xmessage", true, "y\n"},
    {"a dialog that is not executable is passed over", {{"zenity", 0, true, false, false}, {"kdialog", 0}},
     PromptAnswer::granted, kKdialogEvents, "kdialog"},
    {"no dialog program, no terminal", {}, PromptAnswer::unanswered, "", ""},
    {"no dialog program, the terminal says no", {}, PromptAnswer::refused, "", "", true, "no\n"},
    {"no graphical session: no dialog runs", {{"zenity", 0}}, PromptAnswer::refused, "", "", false, "\n"},
    {"the reminders question", {{"kdialog", 0}}, PromptAnswer::granted,
     "kdialog --title vantrel --yesno " + kRemindersQuestion + "\n", "kdialog", true, "", EntityType::reminder},
};

// A pseudo-terminal whose input already holds what the person typed.
class FakeTerminal {
 public:
  explicit FakeTerminal(const std::string& typed) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    path_ = ::ptsname(master_);
    if (::write(master_, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) path_.clear();
  }
  ~FakeTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  std::string path_;
};

TEST(AccessPrompt, TriesEachDialogInTurnAndReadsTheirExitStatuses) {
  for (const PromptCase& c : kPromptCases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string log = dir.path() + "/calls";
    for (const StandInDialog& p : c.programs) {
      std::string script = "#!/bin/sh\nprintf '%s\\n' \"${0##*/} $*\" >> '" + log + "'\n";
      if (p.person) script += "/bin/sleep 0.15\n";
      script += p.killed ? "kill -KILL $$\n" : "exit " + std::to_string(p.status) + "\n";
      const std::string path = dir.path() + "/bin/" + p.name;
      writeFile(path, script);
      fs::permissions(path, p.executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    }
    FakeTerminal terminal(c.terminalInput);
    PromptEnvironment environment;
    environment.path = dir.path() + "/empty:" + dir.path() + "/bin";
    environment.graphicalSession = c.graphical;
    environment.terminal = c.terminalInput.empty() ? dir.path() + "/no-terminal" : terminal.path();
    environment.quickFailure = std::chrono::milliseconds(100);

    PromptRoute route = promptRoute(environment);
    EXPECT_EQ(route.dialog, c.routeTool);
    EXPECT_EQ(route.dialogPath, c.routeTool.empty() ? "" : dir.path() + "/bin/" + c.routeTool);
    EXPECT_EQ(route.terminal, !c.terminalInput.empty());
    EXPECT_EQ(route.graphicalSession, c.graphical);

    EXPECT_EQ(askPersonIn(environment, c.type), c.expected);
    EXPECT_EQ(readFile(log), c.calls);
  }
}

}  // namespace
}  // namespace tallowick::ical
