#include "tallowick/store/vdir/access_prompt.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tallowick::ical {
namespace {

std::string question(EntityType type) {
  return type == EntityType::event ? "Allow vantrel to read and change your calendar events?"
                                   : "Allow vantrel to read and change your reminders?";
}

bool hasGraphicalSession() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Runs a dialog with stdin, stdout and stderr on /dev/null; nothing when it
// could not run or did not give a yes or a no.
std::optional<bool> runDialog(std::vector<std::string> argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  const auto started = std::chrono::steady_clock::now();
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return std::nullopt;
  if (!WIFEXITED(status)) return std::nullopt;
  if (WEXITSTATUS(status) == 0) return true;
  // zenity also exits with 1 when it cannot open the display; nobody answers
  // a question that fast, so that is no refusal.
  if (WEXITSTATUS(status) == 1 && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(300))
    return false;
  return std::nullopt;
}

std::optional<bool> askOnTerminal(EntityType type) {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
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

}  // namespace

PromptAnswer askPerson(EntityType type) {
  auto toAnswer = [](bool yes) { return yes ? PromptAnswer::granted : PromptAnswer::refused; };
  if (hasGraphicalSession()) {
    const std::string text = question(type);
    if (auto yes = runDialog({"zenity", "--question", "--title=vantrel", "--text=" + text})) return toAnswer(*yes);
    if (auto yes = runDialog({"kdialog", "--title", "vantrel", "--yesno", text})) return toAnswer(*yes);
  }
  if (auto yes = askOnTerminal(type)) return toAnswer(*yes);
  return PromptAnswer::unanswered;
}

}  // namespace tallowick::ical
