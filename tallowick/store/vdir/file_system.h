#pragma once
// The file-system calls that the store's writes make.
//
// Abstract so that a test can make any single step fail (a full disk in the
// middle of a write, an fsync error, a refused rename) or run another writer
// at an exact point, and check that the old file survives. The real
// implementation is defaultFileSystem(); FileSystemWrapper forwards every call
// so a double overrides only what it needs.
//
// Every call returns 0 on success or the errno value of the failure, and sets
// no global state. Paths are used as given (relative to the working
// directory). The default implementation is thread-safe; so is each call.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace tallowick::ical {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // open(2); on success `fd` is the new descriptor, owned by the caller.
  virtual int open(const std::string& path, int flags, mode_t mode, int& fd) = 0;
  // Writes all of `bytes`, retrying short writes and EINTR.
  virtual int write(int fd, std::string_view bytes) = 0;
  virtual int fsync(int fd) = 0;
  virtual int close(int fd) = 0;
  virtual int fchmod(int fd, mode_t mode) = 0;
  virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
  // stat(2), following symbolic links, and lstat(2), not following them.
  virtual int stat(const std::string& path, struct stat& info) = 0;
  virtual int lstat(const std::string& path, struct stat& info) = 0;
  // Whether the running user may write the file (faccessat with AT_EACCESS).
  virtual int accessWrite(const std::string& path) = 0;
  // The whole regular file and its status as of the end of the read.
  virtual int readFile(const std::string& path, std::string& bytes, struct stat& info) = 0;
  virtual int readLink(const std::string& path, std::string& target) = 0;
  // renameat2(2) with its flags (0, RENAME_NOREPLACE or RENAME_EXCHANGE).
  virtual int rename(const std::string& from, const std::string& to, unsigned flags) = 0;
  virtual int link(const std::string& from, const std::string& to) = 0;
  virtual int unlink(const std::string& path) = 0;
  virtual int mkdir(const std::string& path, mode_t mode) = 0;
  // The names in a directory, "." and ".." left out, in no order.
  virtual int listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
  // flock(2) on an open descriptor.
  virtual int flock(int fd, int operation) = 0;
  // fsync of a directory, so that a rename in it survives a crash.
  virtual int syncDirectory(const std::string& path) = 0;
};

// The real file system. Lives for the whole process.
FileSystem& defaultFileSystem();

// Forwards every call to another file system.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    return target_.open(path, flags, mode, fd);
  }
  int write(int fd, std::string_view bytes) override { return target_.write(fd, bytes); }
  int fsync(int fd) override { return target_.fsync(fd); }
  int close(int fd) override { return target_.close(fd); }
  int fchmod(int fd, mode_t mode) override { return target_.fchmod(fd, mode); }
  int fchown(int fd, uid_t owner, gid_t group) override { return target_.fchown(fd, owner, group); }
  int stat(const std::string& path, struct stat& info) override { return target_.stat(path, info); }
  int lstat(const std::string& path, struct stat& info) override { return target_.lstat(path, info); }
  int accessWrite(const std::string& path) override { return target_.accessWrite(path); }
  int readFile(const std::string& path, std::string& bytes, struct stat& info) override {
    return target_.readFile(path, bytes, info);
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
  int flock(int fd, int operation) override { return target_.flock(fd, operation); }
  int syncDirectory(const std::string& path) override { return target_.syncDirectory(path); }

 private:
  FileSystem& target_;
};

}  // namespace tallowick::ical
