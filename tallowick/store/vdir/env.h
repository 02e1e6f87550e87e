#pragma once
// Everything the vdir store takes from its surroundings: the file system,
// the clock and the threads of a listing.
//
// Abstract so that a test can run the store on an in-memory file system with
// a clock it moves by hand (MemoryEnv), make any single step fail (a full
// disk in the middle of a write, an fsync error, a refused rename, an
// unreadable file), or run another writer at an exact point (FaultyEnv). The
// real environment is defaultEnv(); EnvWrapper forwards every call so a
// double overrides only what it needs.
//
// File calls return 0 on success or the errno value of the failure, and set
// no global state. Paths are used as given (relative to the working
// directory). Every call of the default environment is thread-safe.

#include "tallowick/store/vdir/layer.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallowick::ical {

class Env {
 public:
  virtual ~Env() = default;

  // open(2); on success `fd` is the new descriptor, owned by the caller.
  virtual int open(const std::string& path, int flags, mode_t mode, int& fd) = 0;
  // Writes all of `bytes`, retrying short writes and EINTR.
  virtual int write(int fd, std::string_view bytes) = 0;
  virtual int fsync(int fd) = 0;
  virtual int close(int fd) = 0;
  virtual int fchmod(int fd, mode_t mode) = 0;
  virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
  virtual int fstat(int fd, struct stat& info) = 0;
  // stat(2), following symbolic links, and lstat(2), not following them.
  virtual int stat(const std::string& path, struct stat& info) = 0;
  virtual int lstat(const std::string& path, struct stat& info) = 0;
  // Whether the running user may write the file (faccessat with AT_EACCESS).
  virtual int accessWrite(const std::string& path) = 0;
  // The whole regular file and its status as of the end of the read. A file
  // larger than `limit` is not read: EFBIG. Anything but a regular file (a
  // FIFO, a device) is not read either: EINVAL.
  static constexpr size_t unlimited = std::numeric_limits<size_t>::max();
  virtual int readFile(const std::string& path, std::string& bytes, struct stat& info, size_t limit = unlimited) = 0;
  virtual int readLink(const std::string& path, std::string& target) = 0;
  // renameat2(2) with its flags (0, RENAME_NOREPLACE or RENAME_EXCHANGE).
  virtual int rename(const std::string& from, const std::string& to, unsigned flags) = 0;
  virtual int link(const std::string& from, const std::string& to) = 0;
  virtual int unlink(const std::string& path) = 0;
  virtual int mkdir(const std::string& path, mode_t mode) = 0;
  // The names in a directory, "." and ".." left out, in no order.
  virtual int listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
  // A directory held open for status calls of the names in it: one per file
  // of the store on every listing, so they must not walk the path each time.
  virtual int openDirectory(const std::string& path, int& handle) = 0;
  // The status of `name` in an open directory, symbolic links followed, with
  // at least type, mode, size, inode and modification and change times.
  virtual int statAt(int directory, const char* name, struct stat& info) = 0;
  virtual int closeDirectory(int handle) = 0;
  // The extended attributes of a file (symbolic links followed), ACLs among
  // them, as name and value; ENOTSUP where the file system keeps none.
  using Attributes = std::vector<std::pair<std::string, std::string>>;
  virtual int extendedAttributes(const std::string& path, Attributes& attributes) = 0;
  // fsetxattr(2): sets one on an open file, creating or replacing it.
  virtual int setExtendedAttribute(int fd, const std::string& name, std::string_view value) = 0;
  // flock(2) on an open descriptor.
  virtual int flock(int fd, int operation) = 0;
  // fsync of a directory, so that a rename in it survives a crash.
  virtual int syncDirectory(const std::string& path) = 0;

  // Microseconds since the epoch, as file times count.
  virtual int64_t nowMicros() = 0;
  // Microseconds of a clock that never goes back, for waiting.
  virtual int64_t monotonicMicros() = 0;
  virtual void sleepMicros(int64_t micros) = 0;

  // Runs task(0) ... task(count - 1), each once, possibly several at a time
  // on other threads; returns once all are done. The first exception a task
  // throws is rethrown then; tasks not yet started are left out.
  virtual void parallelFor(size_t count, const std::function<void(size_t)>& task) = 0;
};

// The real environment: the file system, the system clocks, and this thread
// and one more. Lives for the whole process.
Env& defaultEnv();

// Forwards every call to another environment.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    return target_.open(path, flags, mode, fd);
  }
  int write(int fd, std::string_view bytes) override { return target_.write(fd, bytes); }
  int fsync(int fd) override { return target_.fsync(fd); }
  int close(int fd) override { return target_.close(fd); }
  int fchmod(int fd, mode_t mode) override { return target_.fchmod(fd, mode); }
  int fchown(int fd, uid_t owner, gid_t group) override { return target_.fchown(fd, owner, group); }
  int fstat(int fd, struct stat& info) override { return target_.fstat(fd, info); }
  int stat(const std::string& path, struct stat& info) override { return target_.stat(path, info); }
  int lstat(const std::string& path, struct stat& info) override { return target_.lstat(path, info); }
  int accessWrite(const std::string& path) override { return target_.accessWrite(path); }
  int readFile(const std::string& path, std::string& bytes, struct stat& info, size_t limit = unlimited) override {
    return target_.readFile(path, bytes, info, limit);
  }
  int readLink(const std::string& path, std::string& target) override { return target_.readLink(path, target); }
  int rename(const std::string& from, const std::string& to, unsigned flags) override {
    return target_.rename(from, to, flags);
  }
  int link(const std::string& from, const std::string& to) override { return target_.link(from, to); }
  int unlink(const std::string& path) override { return target_.unlink(path); }
  int mkdir(const std::string& path, mode_t mode) override { return target_.mkdir(path, mode); }
  int listDirectory(const std::string& path, std::vector<std::string>& names) override {
    return target_.listDirectory(path, names);
  }
  int openDirectory(const std::string& path, int& handle) override { return target_.openDirectory(path, handle); }
  int statAt(int directory, const char* name, struct stat& info) override {
    return target_.statAt(directory, name, info);
  }
  int closeDirectory(int handle) override { return target_.closeDirectory(handle); }
  int extendedAttributes(const std::string& path, Attributes& attributes) override {
    return target_.extendedAttributes(path, attributes);
  }
  int setExtendedAttribute(int fd, const std::string& name, std::string_view value) override {
    return target_.setExtendedAttribute(fd, name, value);
  }
  int flock(int fd, int operation) override { return target_.flock(fd, operation); }
  int syncDirectory(const std::string& path) override { return target_.syncDirectory(path); }
  int64_t nowMicros() override { return target_.nowMicros(); }
  int64_t monotonicMicros() override { return target_.monotonicMicros(); }
  void sleepMicros(int64_t micros) override { target_.sleepMicros(micros); }
  void parallelFor(size_t count, const std::function<void(size_t)>& task) override {
    target_.parallelFor(count, task);
  }

 private:
  Env& target_;
};

}  // namespace tallowick::ical
