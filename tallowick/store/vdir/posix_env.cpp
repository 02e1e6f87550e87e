#include "tallowick/store/vdir/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <time.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <system_error>
#include <thread>

#include "common/read_fd.h"

namespace tallowick::ical {
namespace {

int result(int returned) { return returned == 0 ? 0 : errno; }

class PosixEnv : public Env {
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

  int fstat(int fd, struct stat& info) override { return result(::fstat(fd, &info)); }

  int readFile(const std::string& path, std::string& bytes, struct stat& info, size_t limit) override {
    int fd = -1;
    // Non-blocking, so a FIFO put where a file was expected cannot hang us.
    if (int error = open(path, O_RDONLY | O_NONBLOCK, 0, fd)) return error;
    int error = 0;
    if (::fstat(fd, &info) != 0) error = errno;
    else if (!S_ISREG(info.st_mode)) error = EINVAL;
    else if (static_cast<uint64_t>(info.st_size) > limit) error = EFBIG;
    if (error == 0) {
      bytes.clear();
      // The size is a hint only: the file may grow or shrink while it is read.
      bytes.reserve(static_cast<size_t>(info.st_size));
      error = vantrel::readToEnd(fd, bytes, limit);
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

  int openDirectory(const std::string& path, int& handle) override {
    return open(path, O_RDONLY | O_DIRECTORY, 0, handle);
  }

  // statx with just these fields, and without syncing with a network server,
  // is the cheapest status call there is.
  int statAt(int directory, const char* name, struct stat& info) override {
    struct statx x {};
    constexpr unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_INO;
    if (::statx(directory, name, AT_STATX_DONT_SYNC, mask, &x) != 0 || (x.stx_mask & mask) != mask)
      return result(::fstatat(directory, name, &info, 0));
    info = {};
    info.st_mode = x.stx_mode;
    info.st_size = static_cast<off_t>(x.stx_size);
    info.st_ino = x.stx_ino;
    info.st_mtim = {static_cast<time_t>(x.stx_mtime.tv_sec), static_cast<long>(x.stx_mtime.tv_nsec)};
    info.st_ctim = {static_cast<time_t>(x.stx_ctime.tv_sec), static_cast<long>(x.stx_ctime.tv_nsec)};
    return 0;
  }

  int closeDirectory(int handle) override { return close(handle); }

  int extendedAttributes(const std::string& path, Attributes& attributes) override {
    std::string names;
    for (ssize_t size = ::listxattr(path.c_str(), nullptr, 0);; size = ::listxattr(path.c_str(), nullptr, 0)) {
      if (size < 0) return errno;
      names.resize(static_cast<size_t>(size));
      ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
      if (got >= 0) {
        names.resize(static_cast<size_t>(got));
        break;
      }
      if (errno != ERANGE) return errno;  // the list grew in between: ask again
    }
    for (size_t at = 0; at < names.size();) {
      std::string name = names.c_str() + at;
      at += name.size() + 1;
      std::string value;
      for (;;) {
        ssize_t size = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0 && errno == ENODATA) break;  // removed in between
        if (size < 0) return errno;
        value.resize(static_cast<size_t>(size));
        ssize_t got = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got >= 0) {
          value.resize(static_cast<size_t>(got));
          attributes.emplace_back(std::move(name), std::move(value));
          break;
        }
        if (errno != ERANGE) return errno;
      }
    }
    return 0;
  }

  int setExtendedAttribute(int fd, const std::string& name, std::string_view value) override {
    return result(::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0));
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

  int64_t nowMicros() override { return microsOf(CLOCK_REALTIME); }
  int64_t monotonicMicros() override { return microsOf(CLOCK_MONOTONIC); }
  void sleepMicros(int64_t micros) override {
    struct timespec left {static_cast<time_t>(micros / 1000000), static_cast<long>(micros % 1000000) * 1000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  // This thread and one more: the machines the helper runs on have a few
  // cores, and a listing is mostly status calls and parsing.
  void parallelFor(size_t count, const std::function<void(size_t)>& task) override {
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t i; (i = next++) < count;) task(i);
    };
    if (count < 2) return work();
    std::exception_ptr failure;
    std::thread helper;
    try {
      helper = std::thread([&] {
        try {
          work();
        } catch (...) {
          failure = std::current_exception();
          next = count;
        }
      });
    } catch (const std::system_error&) {
      return work();
    }
    try {
      work();
    } catch (...) {
      next = count;
      helper.join();
      throw;
    }
    helper.join();
    if (failure) std::rethrow_exception(failure);
  }

 private:
  static int64_t microsOf(clockid_t clock) {
    struct timespec now {};
    ::clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  }
};

}  // namespace

Env& defaultEnv() {
  static PosixEnv instance;
  return instance;
}

}  // namespace tallowick::ical
