#include "common/job.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

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

[[noreturn]] void finish(std::exception_ptr error, const ErrorDescriber& describe) {
  std::cout.flush();
  bool flushed = !std::cout.fail() && std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (!error && !flushed) {
    error = std::make_exception_ptr(
        std::runtime_error(std::string("Failed to write to standard output: ") + std::strerror(errno)));
  }
  if (!error) std::_Exit(0);
  std::string line;
  try {
    line = describe(error);
  } catch (...) {
    line = "Unknown error";
  }
  line.push_back('\n');
  writeAll(STDERR_FILENO, line);
  std::_Exit(1);
}

}  // namespace

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  if (text.find_first_not_of(' ') == std::string::npos) return "Unknown error";
  return text;
}

std::string describeForeignError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return oneLine(e.what());
  } catch (...) {
    return "Unknown error";
  }
}

void runJobAndPark(std::function<void()> dispatch, ErrorDescriber describe) {
  std::thread job([dispatch = std::move(dispatch), describe = std::move(describe)] {
    std::exception_ptr error;
    try {
      dispatch();
    } catch (...) {
      error = std::current_exception();
    }
    finish(error, describe);
  });
  job.detach();
  for (;;) ::pause();
}

}  // namespace vantrel
