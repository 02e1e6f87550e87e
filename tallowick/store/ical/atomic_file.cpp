#include "tallowick/store/ical/atomic_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/read_fd.h"
#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {
namespace {

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw StoreError(what + " " + path + ": " + std::strerror(error));
}

// Closes and removes the temporary file unless it was moved into place.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target) {
    path_ = directoryOf(target) + "/." + baseName(target) + ".XXXXXX";
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) fail("Cannot write", target, errno);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void write(std::string_view bytes, mode_t mode) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) fail("Cannot write", target_, errno);
      p += n;
      left -= static_cast<size_t>(n);
    }
    if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) fail("Cannot write", target_, errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("Cannot write", target_, errno);
  }

  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
};

void syncDirectory(const std::string& file) {
  int fd = ::open(directoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void replaceFileAtomically(const std::string& path, std::string_view bytes) {
  struct stat existing {};
  mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600;
  TempFile temp(path);
  temp.write(bytes, mode);
  if (::rename(temp.path().c_str(), path.c_str()) != 0) fail("Cannot replace", path, errno);
  temp.release();
  syncDirectory(path);
}

bool createFileExclusively(const std::string& path, std::string_view bytes) {
  TempFile temp(path);
  temp.write(bytes, 0600);
  if (::renameat2(AT_FDCWD, temp.path().c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    temp.release();
    syncDirectory(path);
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) fail("Cannot create", path, errno);
  // A file system without RENAME_NOREPLACE: a hard link refuses to replace too.
  if (::link(temp.path().c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) return false;
    fail("Cannot create", path, errno);
  }
  syncDirectory(path);
  return true;
}

void makeDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    std::string prefix = directory.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
      throw StoreError("Cannot create " + prefix + ": " + std::strerror(errno));
    if (slash == std::string::npos) return;
  }
}

std::optional<std::string> readWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(info.st_size));
  int error = vantrel::readToEnd(fd, bytes);
  ::close(fd);
  if (error != 0) return std::nullopt;
  return bytes;
}

}  // namespace tallowick::ical
