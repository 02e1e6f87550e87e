#include "tallowick/store/vdir/memory_env.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>

#include <cerrno>

#include "common/paths.h"

namespace tallowick::ical::testing {
namespace {

constexpr int64_t startNs = 1717243200LL * 1'000'000'000;  // 2024-06-01T12:00:00Z

}  // namespace

MemoryEnv::MemoryEnv() : nowNs_(startNs) { nodes_["/"] = newNode(Node::Kind::directory, 0755); }

MemoryEnv::NodePtr MemoryEnv::newNode(Node::Kind kind, mode_t mode) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->mode = mode;
  node->inode = nextInode_++;
  touch(*node);
  return node;
}

MemoryEnv::NodePtr MemoryEnv::find(const std::string& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? nullptr : it->second;
}

std::string MemoryEnv::followed(const std::string& path) const {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    NodePtr node = find(current);
    if (!node || node->kind != Node::Kind::link) return current;
    current = node->bytes[0] == '/' ? node->bytes : vantrel::directoryOf(current) + "/" + node->bytes;
  }
  return current;
}

MemoryEnv::NodePtr MemoryEnv::resolve(const std::string& path) const {
  NodePtr node = find(followed(path));
  return node && node->kind != Node::Kind::link ? node : nullptr;
}

int MemoryEnv::parentError(const std::string& path) const {
  NodePtr parent = find(vantrel::directoryOf(path));
  if (!parent) return ENOENT;
  return parent->kind == Node::Kind::directory ? 0 : ENOTDIR;
}

void MemoryEnv::statusOf(const Node& node, struct stat& info) const {
  info = {};
  info.st_dev = 1;
  info.st_ino = node.inode;
  info.st_nlink = 1;
  info.st_uid = node.uid;
  info.st_gid = node.gid;
  info.st_size = static_cast<off_t>(node.kind == Node::Kind::directory ? 4096 : node.bytes.size());
  mode_t type = node.kind == Node::Kind::file ? S_IFREG : node.kind == Node::Kind::directory ? S_IFDIR : S_IFLNK;
  info.st_mode = type | (node.mode & 07777);
  info.st_mtim = {static_cast<time_t>(node.mtimeNs / 1'000'000'000), static_cast<long>(node.mtimeNs % 1'000'000'000)};
  info.st_ctim = {static_cast<time_t>(node.ctimeNs / 1'000'000'000), static_cast<long>(node.ctimeNs % 1'000'000'000)};
}

void MemoryEnv::writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (!find(path.substr(0, slash))) nodes_[path.substr(0, slash)] = newNode(Node::Kind::directory, 0755);
  NodePtr node = resolve(path);
  if (!node) node = nodes_[followed(path)] = newNode(Node::Kind::file, mode);
  node->bytes = bytes;
  touch(*node);
}

void MemoryEnv::makeLink(const std::string& target, const std::string& path) {
  NodePtr node = newNode(Node::Kind::link, 0777);
  node->bytes = target;
  nodes_[path] = node;
}

std::optional<std::string> MemoryEnv::contents(const std::string& path) const {
  NodePtr node = resolve(path);
  if (!node || node->kind != Node::Kind::file) return std::nullopt;
  return node->bytes;
}

int MemoryEnv::open(const std::string& path, int flags, mode_t mode, int& fd) {
  if (find(path) && (flags & O_CREAT) && (flags & O_EXCL)) return EEXIST;
  NodePtr node = resolve(path);
  if (!node) {
    if (!(flags & O_CREAT)) return ENOENT;
    if (int error = parentError(followed(path))) return error;
    node = nodes_[followed(path)] = newNode(Node::Kind::file, mode & ~mode_t{022});
  }
  if ((flags & O_DIRECTORY) && node->kind != Node::Kind::directory) return ENOTDIR;
  fd = nextFd_++;
  open_[fd] = node;
  return 0;
}

int MemoryEnv::write(int fd, std::string_view bytes) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  it->second->bytes.append(bytes);
  touch(*it->second);
  return 0;
}

int MemoryEnv::fsync(int fd) { return open_.count(fd) ? 0 : EBADF; }

int MemoryEnv::close(int fd) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  if (it->second->lockedBy == fd) it->second->lockedBy = -1;
  open_.erase(it);
  return 0;
}

int MemoryEnv::fchmod(int fd, mode_t mode) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  it->second->mode = mode & 07777;
  it->second->ctimeNs = nowNs_;
  return 0;
}

int MemoryEnv::fchown(int fd, uid_t owner, gid_t group) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  it->second->uid = owner;
  it->second->gid = group;
  return 0;
}

int MemoryEnv::fstat(int fd, struct stat& info) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  statusOf(*it->second, info);
  return 0;
}

int MemoryEnv::stat(const std::string& path, struct stat& info) {
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  statusOf(*node, info);
  return 0;
}

int MemoryEnv::lstat(const std::string& path, struct stat& info) {
  NodePtr node = find(path);
  if (!node) return ENOENT;
  statusOf(*node, info);
  return 0;
}

int MemoryEnv::accessWrite(const std::string& path) {
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  return node->mode & 0200 ? 0 : EACCES;
}

int MemoryEnv::readFile(const std::string& path, std::string& bytes, struct stat& info, size_t limit) {
  if (auto failure = readFailures_.find(path); failure != readFailures_.end()) return failure->second;
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  if (node->kind != Node::Kind::file) return EINVAL;
  if (node->bytes.size() > limit) return EFBIG;
  bytes = node->bytes;
  statusOf(*node, info);
  return 0;
}

int MemoryEnv::readLink(const std::string& path, std::string& target) {
  NodePtr node = find(path);
  if (!node) return ENOENT;
  if (node->kind != Node::Kind::link) return EINVAL;
  target = node->bytes;
  return 0;
}

int MemoryEnv::rename(const std::string& from, const std::string& to, unsigned flags) {
  NodePtr moving = find(from);
  if (!moving) return ENOENT;
  if (int error = parentError(to)) return error;
  NodePtr there = find(to);
  if ((flags & RENAME_NOREPLACE) && there) return EEXIST;
  if (flags & RENAME_EXCHANGE) {
    if (!there) return ENOENT;
    nodes_[from] = there;
    there->ctimeNs = nowNs_;
  } else {
    nodes_.erase(from);
  }
  nodes_[to] = moving;
  moving->ctimeNs = nowNs_;
  return 0;
}

int MemoryEnv::link(const std::string& from, const std::string& to) {
  NodePtr node = find(from);
  if (!node) return ENOENT;
  if (find(to)) return EEXIST;
  if (int error = parentError(to)) return error;
  nodes_[to] = node;
  node->ctimeNs = nowNs_;
  return 0;
}

int MemoryEnv::unlink(const std::string& path) {
  NodePtr node = find(path);
  if (!node) return ENOENT;
  if (node->kind == Node::Kind::directory) return EISDIR;
  nodes_.erase(path);
  return 0;
}

int MemoryEnv::mkdir(const std::string& path, mode_t mode) {
  if (find(path)) return EEXIST;
  if (int error = parentError(path)) return error;
  nodes_[path] = newNode(Node::Kind::directory, mode);
  return 0;
}

int MemoryEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  if (node->kind != Node::Kind::directory) return ENOTDIR;
  std::string prefix = followed(path) == "/" ? "/" : followed(path) + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (it->first.find('/', prefix.size()) == std::string::npos && it->first.size() > prefix.size())
      names.push_back(it->first.substr(prefix.size()));
  return 0;
}

int MemoryEnv::openDirectory(const std::string& path, int& handle) {
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  if (node->kind != Node::Kind::directory) return ENOTDIR;
  handle = nextFd_++;
  directories_[handle] = followed(path);
  return 0;
}

int MemoryEnv::statAt(int directory, const char* name, struct stat& info) {
  auto it = directories_.find(directory);
  if (it == directories_.end()) return EBADF;
  return stat(it->second + "/" + name, info);
}

int MemoryEnv::closeDirectory(int handle) { return directories_.erase(handle) ? 0 : EBADF; }

int MemoryEnv::extendedAttributes(const std::string& path, Attributes& attributes) {
  NodePtr node = resolve(path);
  if (!node) return ENOENT;
  attributes.assign(node->attributes.begin(), node->attributes.end());
  return 0;
}

int MemoryEnv::setExtendedAttribute(int fd, const std::string& name, std::string_view value) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  it->second->attributes[name] = std::string(value);
  it->second->ctimeNs = nowNs_;
  return 0;
}

int MemoryEnv::flock(int fd, int operation) {
  auto it = open_.find(fd);
  if (it == open_.end()) return EBADF;
  Node& node = *it->second;
  if (operation & LOCK_UN) {
    if (node.lockedBy == fd) node.lockedBy = -1;
    return 0;
  }
  if (node.lockedBy != -1 && node.lockedBy != fd) return EWOULDBLOCK;
  node.lockedBy = fd;
  return 0;
}

int MemoryEnv::syncDirectory(const std::string& path) { return resolve(path) ? 0 : ENOENT; }

void MemoryEnv::parallelFor(size_t count, const std::function<void(size_t)>& task) {
  for (size_t i = 0; i < count; ++i) task(i);
}

}  // namespace tallowick::ical::testing
