#include "common/request_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/read_fd.h"

namespace vantrel {
namespace {

[[noreturn]] void fail(const std::string& path, int error) {
  throw RequestFileError("Cannot read request file " + path + ": " + std::strerror(error));
}

}  // namespace

std::string readRequestFile(const std::string& path) {
  if (path.empty()) throw RequestFileError("Cannot read request file: the path is empty");
  // O_NONBLOCK so that opening a FIFO without a writer does not hang before
  // the type check below can refuse it.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) fail(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    int error = errno;
    ::close(fd);
    fail(path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    if (S_ISDIR(info.st_mode)) fail(path, EISDIR);
    throw RequestFileError("Cannot read request file " + path + ": not a regular file");
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(info.st_size));
  int error = readToEnd(fd, bytes);
  ::close(fd);
  if (error != 0) fail(path, error);
  return bytes;
}

}  // namespace vantrel
