#pragma once
// Runs a built binary the way the host does: arguments, environment and working
// directory set, stdin empty, stdout and stderr captured, in a new session so it
// has no controlling terminal.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct ProcessOptions {
  // Variables to set (or, with std::nullopt, to remove) on top of this
  // process's environment. DISPLAY and WAYLAND_DISPLAY are removed unless set here.
  std::map<std::string, std::optional<std::string>> env;
  std::string workingDirectory;  // empty: this process's
  // Stdout is a pipe whose reading end is closed before the process starts,
  // as when the host has gone away; ProcessResult::out stays empty.
  bool closedStdout = false;
  // What the process reads on stdin (at most a pipe's buffer, 64 KiB); empty
  // means /dev/null.
  std::string input{};
  // runProcess only: past this, the process and everything it started are
  // killed (the process runs in a session of its own). Zero: no limit.
  std::chrono::milliseconds timeout{0};
};

struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
  bool timedOut = false;
};

ProcessResult runProcess(const std::string& binary, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// A new directory under the system's temporary directory, made the run's
// HOME and working directory, with XDG_CONFIG_HOME, XDG_DATA_HOME and
// XDG_CACHE_HOME at config/, data/ and cache/ in it and TZ set to `zone`.
// The caller removes it.
std::filesystem::path makeTempHome(const std::string& prefix, const std::string& zone, ProcessOptions& options);

// A process whose stdout is read while it runs.
class RunningProcess {
 public:
  RunningProcess(const std::string& binary, const std::vector<std::string>& args, const ProcessOptions& options = {});
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  // The next line of stdout without its line feed, or nothing at end of file
  // or when `timeout` passes first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);

  // Reads the rest of stdout and stderr and waits for the exit.
  ProcessResult finish();

 private:
  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string pending_;
};

}  // namespace e2e
