#include "tallowick/store/vdir/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "common/read_fd.h"

namespace tallowick::ical {
namespace {

int result(int returned) { return returned == 0 ? 0 : errno; }

class PosixFileSystem : public FileSystem {
 public:
  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? errno : 0;
  }

  int write(int fd, std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
  }

  int fsync(int fd) override { return result(::fsync(fd)); }
  int close(int fd) override { return result(::close(fd)); }
  int fchmod(int fd, mode_t mode) override { return result(::fchmod(fd, mode)); }
  int fchown(int fd, uid_t owner, gid_t group) override { return result(::fchown(fd, owner, group)); }
  int stat(const std::string& path, struct stat& info) override { return result(::stat(path.c_str(), &info)); }
  int lstat(const std::string& path, struct stat& info) override { return result(::lstat(path.c_str(), &info)); }
  int accessWrite(const std::string& path) override {
    return result(::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS));
  }

  int readFile(const std::string& path, std::string& bytes, struct stat& info) override {
    int fd = -1;
    // Non-blocking, so a FIFO put where a file was expected cannot hang us.
    if (int error = open(path, O_RDONLY | O_NONBLOCK, 0, fd)) return error;
    int error = 0;
    if (::fstat(fd, &info) != 0) error = errno;
    else if (!S_ISREG(info.st_mode)) error = EINVAL;
    if (error == 0) {
      bytes.clear();
      bytes.reserve(static_cast<size_t>(info.st_size));
      error = vantrel::readToEnd(fd, bytes);
    }
    // The status after the read, so a write that ended during it shows.
    if (error == 0 && ::fstat(fd, &info) != 0) error = errno;
    ::close(fd);
    return error;
  }

  int readLink(const std::string& path, std::string& target) override {
    std::string buffer(256, '\0');
    for (;;) {
      ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
      if (n < 0) return errno;
      if (static_cast<size_t>(n) < buffer.size()) {
        target.assign(buffer.data(), static_cast<size_t>(n));
        return 0;
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  int rename(const std::string& from, const std::string& to, unsigned flags) override {
    return result(::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags));
  }
  int link(const std::string& from, const std::string& to) override { return result(::link(from.c_str(), to.c_str())); }
  int unlink(const std::string& path) override { return result(::unlink(path.c_str())); }
  int mkdir(const std::string& path, mode_t mode) override { return result(::mkdir(path.c_str(), mode)); }

  int listDirectory(const std::string& path, std::vector<std::string>& names) override {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return errno;
    while (dirent* entry = ::readdir(dir)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return 0;
  }

  int flock(int fd, int operation) override {
    int r;
    do r = ::flock(fd, operation);
    while (r != 0 && errno == EINTR);
    return result(r);
  }

  int syncDirectory(const std::string& path) override {
    int fd = -1;
    if (int error = open(path, O_RDONLY | O_DIRECTORY, 0, fd)) return error;
    int error = result(::fsync(fd));
    ::close(fd);
    return error;
  }
};

}  // namespace

FileSystem& defaultFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace tallowick::ical
