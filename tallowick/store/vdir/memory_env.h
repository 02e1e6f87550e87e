#pragma once
// Test double of the environment: a file system in memory, a clock that
// moves only when the test says so, and no threads (parallelFor runs the
// tasks in order). Every file time comes from that clock, so a test can put
// a file change and a cache write in the same tick, or hours apart, without
// sleeping and without a disk.
//
// Paths are absolute. Symbolic links are followed in the last component of a
// path only, which is all the store asks of them. Not thread-safe.

#include "tallowick/store/vdir/layer.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tallowick/store/vdir/env.h"

namespace tallowick::ical::testing {

class MemoryEnv : public Env {
 public:
  // An empty root, the clock at 2024-06-01T12:00:00Z.
  MemoryEnv();

  // Moves the clock on; a second by default.
  void tick(int64_t micros = 1'000'000) { nowNs_ += micros * 1000; }

  // Puts a file (and its missing directories) in place, stamped now.
  void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
  void makeLink(const std::string& target, const std::string& path);
  // The bytes of a file, links followed; nothing when there is none.
  std::optional<std::string> contents(const std::string& path) const;
  // Every later read of `path` fails with `error`.
  void failReadsOf(const std::string& path, int error) { readFailures_[path] = error; }

  int open(const std::string& path, int flags, mode_t mode, int& fd) override;
  int write(int fd, std::string_view bytes) override;
  int fsync(int fd) override;
  int close(int fd) override;
  int fchmod(int fd, mode_t mode) override;
  int fchown(int fd, uid_t owner, gid_t group) override;
  int fstat(int fd, struct stat& info) override;
  int stat(const std::string& path, struct stat& info) override;
  int lstat(const std::string& path, struct stat& info) override;
  int accessWrite(const std::string& path) override;
  int readFile(const std::string& path, std::string& bytes, struct stat& info, size_t limit = unlimited) override;
  int readLink(const std::string& path, std::string& target) override;
  int rename(const std::string& from, const std::string& to, unsigned flags) override;
  int link(const std::string& from, const std::string& to) override;
  int unlink(const std::string& path) override;
  int mkdir(const std::string& path, mode_t mode) override;
  int listDirectory(const std::string& path, std::vector<std::string>& names) override;
  int openDirectory(const std::string& path, int& handle) override;
  int statAt(int directory, const char* name, struct stat& info) override;
  int closeDirectory(int handle) override;
  int extendedAttributes(const std::string& path, Attributes& attributes) override;
  int setExtendedAttribute(int fd, const std::string& name, std::string_view value) override;
  int flock(int fd, int operation) override;
  int syncDirectory(const std::string& path) override;
  int64_t nowMicros() override { return nowNs_ / 1000; }
  int64_t monotonicMicros() override { return nowNs_ / 1000; }
  void sleepMicros(int64_t micros) override { tick(micros); }
  void parallelFor(size_t count, const std::function<void(size_t)>& task) override;

 private:
  struct Node {
    enum class Kind { file, directory, link } kind = Kind::file;
    std::string bytes;  // a file's contents, or a link's target
    mode_t mode = 0644;
    uid_t uid = 0;
    gid_t gid = 0;
    uint64_t inode = 0;
    int64_t mtimeNs = 0, ctimeNs = 0;
    int lockedBy = -1;  // the descriptor holding its flock
    std::map<std::string, std::string> attributes;
  };
  using NodePtr = std::shared_ptr<Node>;

  std::map<std::string, NodePtr> nodes_;  // by path; hard links share a node
  std::map<int, NodePtr> open_;           // descriptors
  std::map<int, std::string> directories_;  // open directory handles
  std::map<std::string, int> readFailures_;
  int64_t nowNs_;
  uint64_t nextInode_ = 1;
  int nextFd_ = 100;

  NodePtr newNode(Node::Kind kind, mode_t mode);
  NodePtr find(const std::string& path) const;     // the entry itself
  NodePtr resolve(const std::string& path) const;  // a link followed to what it names
  std::string followed(const std::string& path) const;
  int parentError(const std::string& path) const;  // 0 when the parent directory exists
  void touch(Node& node) { node.mtimeNs = node.ctimeNs = nowNs_; }
  void statusOf(const Node& node, struct stat& info) const;
};

}  // namespace tallowick::ical::testing
