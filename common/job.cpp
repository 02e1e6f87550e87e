#include "common/job.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "common/error_line.h"
#include "text/utf8.h"

namespace vantrel {
namespace {

void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

[[noreturn]] void finish(std::exception_ptr error) {
  errno = 0;
  std::cout.flush();
  bool flushed = !std::cout.fail() && std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (!error && !flushed) error = std::make_exception_ptr(OutputWriteError(errno));
  if (!error) std::_Exit(0);
  std::string line = describeError(error);
  line.push_back('\n');
  writeAll(STDERR_FILENO, line);
  std::_Exit(1);
}

std::string writeFailure(int errorNumber) {
  std::string text = "Failed to write to standard output";
  if (errorNumber != 0) text += std::string(": ") + std::strerror(errorNumber);
  return text;
}

}  // namespace

OutputWriteError::OutputWriteError(int errorNumber) : std::runtime_error(writeFailure(errorNumber)) {}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(text::repairUtf8(argv[i]));
  return args;
}

// Libraries that complain with fprintf on stdio's stderr (libical's parser
// about a broken file, "Encountered END before BEGIN") would add lines to the
// one error line; the error line goes to descriptor 2 directly, and so do the
// sanitizers' reports, so stdio's stderr can drop what it is given.
void discardStdioStderr() {
  cookie_io_functions_t discard{};
  discard.write = [](void*, const char*, size_t size) -> ssize_t { return static_cast<ssize_t>(size); };
  if (FILE* sink = ::fopencookie(nullptr, "w", discard)) stderr = sink;
}

void runJobAndPark(std::function<void()> dispatch) {
  std::signal(SIGPIPE, SIG_IGN);
  discardStdioStderr();
  std::thread job([dispatch = std::move(dispatch)] {
    std::exception_ptr error;
    try {
      dispatch();
    } catch (...) {
      error = std::current_exception();
    }
    finish(error);
  });
  job.detach();
  for (;;) ::pause();
}

}  // namespace vantrel
