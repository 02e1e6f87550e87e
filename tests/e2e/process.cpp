#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

std::vector<std::string> buildEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::optional<std::string>> merged;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  // No desktop of the person running the tests: no display to ask on, no
  // session bus whose evolution-data-server would answer for an empty store.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
    merged[name] = std::nullopt;
  for (const auto& [name, value] : options.env) merged[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : merged)
    if (value) out.push_back(name + "=" + *value);
  return out;
}

int spawn(const std::string& binary, const std::vector<std::string>& args, const ProcessOptions& options, int& outFd,
          int& errFd) {
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (options.closedStdout) {
    ::close(outPipe[0]);
    outPipe[0] = -1;
  }
  int inPipe[2] = {-1, -1};
  if (!options.input.empty()) {
    if (options.input.size() > 65536 || ::pipe2(inPipe, O_CLOEXEC) != 0 ||
        ::write(inPipe[1], options.input.data(), options.input.size()) != static_cast<ssize_t>(options.input.size()))
      throw std::runtime_error("cannot prepare stdin");
    ::close(inPipe[1]);
  }
  std::vector<std::string> env = buildEnvironment(options);
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setsid();
    ::dup2(inPipe[0] >= 0 ? inPipe[0] : ::open("/dev/null", O_RDONLY), 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (inPipe[0] >= 0) ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

// Reads both pipes to their end. With a deadline, kills the process group
// `pid` once it passes and returns true; the pipes still close as it dies.
bool drain(int outFd, int errFd, std::string& out, std::string& err, int pid = -1,
           std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) {
  // poll skips a negative descriptor: a stdout that was closed from the start.
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = (outFd >= 0) + (errFd >= 0);
  bool killed = false;
  char buffer[65536];
  while (open > 0) {
    int wait = -1;
    if (deadline && !killed) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ::kill(-pid, SIGKILL);
        killed = true;
      } else {
        wait = static_cast<int>(left.count()) + 1;
      }
    }
    if (::poll(fds, 2, wait) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return killed;
}

int waitFor(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ProcessResult runProcess(const std::string& binary, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  int outFd, errFd;
  int pid = spawn(binary, args, options, outFd, errFd);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options.timeout.count() > 0) deadline = std::chrono::steady_clock::now() + options.timeout;
  result.timedOut = drain(outFd, errFd, result.out, result.err, pid, deadline);
  result.status = waitFor(pid);
  return result;
}

RunningProcess::RunningProcess(const std::string& binary, const std::vector<std::string>& args,
                               const ProcessOptions& options) {
  pid_ = spawn(binary, args, options, out_, err_);
}

RunningProcess::~RunningProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    waitFor(pid_);
  }
  if (out_ >= 0) ::close(out_);
  if (err_ >= 0) ::close(err_);
}

std::optional<std::string> RunningProcess::readLine(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n == 0) return std::nullopt;
    if (n > 0) pending_.append(buffer, static_cast<size_t>(n));
  }
}

ProcessResult RunningProcess::finish() {
  ProcessResult result;
  result.out = std::move(pending_);
  pending_.clear();
  drain(out_, err_, result.out, result.err);
  out_ = err_ = -1;
  result.status = waitFor(pid_);
  pid_ = -1;
  return result;
}

std::filesystem::path makeTempHome(const std::string& prefix, const std::string& zone, ProcessOptions& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  std::filesystem::path home = pattern;
  options.env["HOME"] = home.string();
  options.env["XDG_CONFIG_HOME"] = (home / "config").string();
  options.env["XDG_DATA_HOME"] = (home / "data").string();
  options.env["XDG_CACHE_HOME"] = (home / "cache").string();
  options.env["TZ"] = zone;
  options.workingDirectory = home.string();
  return home;
}

}  // namespace e2e
