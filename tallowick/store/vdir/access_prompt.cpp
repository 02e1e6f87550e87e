#include "tallowick/store/vdir/access_prompt.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <set>

extern char** environ;

namespace tallowick::ical {
namespace {

std::string question(EntityType type) {
  return type == EntityType::event ? "Allow vantrel to read and change your calendar events?"
                                   : "Allow vantrel to read and change your reminders?";
}

// The arguments after the program's name, and the exit statuses that mean
// "no": a dialog exits with 0 for "yes".
struct DialogCall {
  std::vector<std::string> args;
  std::set<int> refusals;
};

DialogCall dialogCall(const std::string& program, const std::string& text) {
  if (program == "zenity") return {{"--question", "--title=vantrel", "--text=" + text}, {1}};
  if (program == "kdialog") return {{"--title", "vantrel", "--yesno", text}, {1}};
  // xmessage has no "no" of its own: the buttons name their statuses. It
  // exits with 1 when its window is closed, and when it cannot open one.
  return {{"-center", "-title", "vantrel", "-buttons", "Allow:0,Don't allow:2", text}, {1, 2}};
}

// The executable regular file `name` in the first directory of `path` that
// has one; empty when none does. An empty entry is the working directory, as
// for the shell.
std::string findProgram(const std::string& name, const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

// Runs a dialog with stdin, stdout and stderr on /dev/null; nothing when it
// could not run or gave neither a yes nor a no.
std::optional<bool> runDialog(const std::string& program, const DialogCall& call,
                              std::chrono::milliseconds quickFailure) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), call.args.begin(), call.args.end());
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  const auto started = std::chrono::steady_clock::now();
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return std::nullopt;
  if (!WIFEXITED(status)) return std::nullopt;
  int code = WEXITSTATUS(status);
  if (code == 0) return true;
  if (call.refusals.count(code) && std::chrono::steady_clock::now() - started >= quickFailure) return false;
  return std::nullopt;
}

std::optional<bool> askOnTerminal(EntityType type, const std::string& terminal) {
  if (terminal.empty()) return std::nullopt;
  int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string prompt = question(type) + " [y/N] ";
  if (::write(fd, prompt.data(), prompt.size()) < 0) {
    ::close(fd);
    return std::nullopt;
  }
  std::string answer;
  char c = 0;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') break;
    if (answer.size() < 64) answer.push_back(c);
  }
  ::close(fd);
  if (c != '\n' && answer.empty()) return std::nullopt;  // end of input: nobody answered
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool canOpen(const std::string& terminal) {
  if (terminal.empty()) return false;
  int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

PromptEnvironment PromptEnvironment::current() {
  auto value = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v ? v : "";
  };
  PromptEnvironment environment;
  // posix_spawnp's own default when PATH is unset.
  environment.path = std::getenv("PATH") ? value("PATH") : "/bin:/usr/bin";
  environment.graphicalSession = !value("DISPLAY").empty() || !value("WAYLAND_DISPLAY").empty();
  environment.terminal = "/dev/tty";
  return environment;
}

const std::vector<DialogProgram>& dialogPrograms() {
  static const std::vector<DialogProgram> programs{
      {"zenity", "zenity"}, {"kdialog", "kdialog"}, {"xmessage", "x11-utils"}};
  return programs;
}

PromptAnswer askPersonIn(const PromptEnvironment& environment, EntityType type) {
  auto toAnswer = [](bool yes) { return yes ? PromptAnswer::granted : PromptAnswer::refused; };
  if (environment.graphicalSession) {
    for (const auto& dialog : dialogPrograms()) {
      std::string program = findProgram(dialog.name, environment.path);
      if (program.empty()) continue;
      if (auto yes = runDialog(program, dialogCall(dialog.name, question(type)), environment.quickFailure))
        return toAnswer(*yes);
    }
  }
  if (auto yes = askOnTerminal(type, environment.terminal)) return toAnswer(*yes);
  return PromptAnswer::unanswered;
}

PromptAnswer askPerson(EntityType type) { return askPersonIn(PromptEnvironment::current(), type); }

PromptRoute promptRoute(const PromptEnvironment& environment) {
  PromptRoute route;
  route.graphicalSession = environment.graphicalSession;
  if (environment.graphicalSession) {
    for (const auto& dialog : dialogPrograms()) {
      route.dialogPath = findProgram(dialog.name, environment.path);
      if (!route.dialogPath.empty()) {
        route.dialog = dialog.name;
        break;
      }
    }
  }
  route.terminal = canOpen(environment.terminal);
  return route;
}

}  // namespace tallowick::ical
