#include "tallowick/store/vdir/atomic_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "common/paths.h"
#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {
namespace {

constexpr std::string_view tempPrefix = ".tallowick-";
constexpr std::string_view tempSuffix = ".tmp";
// Links followed before a path counts as a loop, as the kernel's own limit.
constexpr int maxLinks = 40;

using vantrel::directoryOf;

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw StoreError(what + " " + path + ": " + std::strerror(error));
}

std::string randomTag() {
  unsigned char bytes[8] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Only the name's uniqueness depends on it, and O_EXCL guards that.
    static unsigned counter = 0;
    unsigned value = static_cast<unsigned>(::getpid()) * 2654435761u + ++counter;
    std::memcpy(bytes, &value, sizeof value);
  }
  static const char digits[] = "0123456789abcdef";
  std::string tag;
  for (unsigned char b : bytes) {
    tag += digits[b >> 4];
    tag += digits[b & 15];
  }
  return tag;
}

// A temporary file beside `target`, removed unless it was moved into place.
class TempFile {
 public:
  // `mode` as for open(2): the umask applies.
  TempFile(Env& fs, const std::string& target, mode_t mode) : fs_(fs), target_(target) {
    for (int attempt = 0;; ++attempt) {
      path_ = directoryOf(target) + "/" + std::string(tempPrefix) + baseName(target) + "." + randomTag() +
              std::string(tempSuffix);
      int error = fs_.open(path_, O_WRONLY | O_CREAT | O_EXCL, mode, fd_);
      if (error == 0) return;
      path_.clear();
      if (error != EEXIST || attempt == 3) fail("Cannot write", target, error);
    }
  }
  ~TempFile() {
    if (fd_ >= 0) fs_.close(fd_);
    if (!path_.empty()) fs_.unlink(path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Gives the file the owner, group and mode of `like`.
  void takeIdentityOf(const struct stat& like) {
    struct stat own {};
    if (int error = fs_.fstat(fd_, own)) fail("Cannot write", target_, error);
    if (own.st_uid != like.st_uid || own.st_gid != like.st_gid) {
      if (int error = fs_.fchown(fd_, like.st_uid, like.st_gid)) fail("Cannot keep the owner of", target_, error);
    }
    if (int error = fs_.fchmod(fd_, like.st_mode & 07777)) fail("Cannot write", target_, error);
  }

  // Gives the file the extended attributes of the file at `path`, its ACL
  // among them, so that replacing a file keeps who may read it. Security
  // labels and trusted attributes are the kernel's and the administrator's
  // to set: the new file keeps what the system gives it there.
  void takeAttributesOf(const std::string& path) {
    Env::Attributes attributes;
    int error = fs_.extendedAttributes(path, attributes);
    if (error == ENOTSUP) return;
    if (error) fail("Cannot keep the extended attributes of", target_, error);
    for (const auto& [name, value] : attributes) {
      if (name.rfind("security.", 0) == 0 || name.rfind("trusted.", 0) == 0) continue;
      if (int e = fs_.setExtendedAttribute(fd_, name, value)) fail("Cannot keep the extended attributes of", target_, e);
    }
  }

  // Writes, fsyncs and closes the file, and gives its status.
  struct stat write(std::string_view bytes) {
    if (int error = fs_.write(fd_, bytes)) fail("Cannot write", target_, error);
    if (int error = fs_.fsync(fd_)) fail("Cannot write", target_, error);
    struct stat info {};
    if (int error = fs_.fstat(fd_, info)) fail("Cannot write", target_, error);
    int fd = fd_;
    fd_ = -1;
    if (int error = fs_.close(fd)) fail("Cannot write", target_, error);
    return info;
  }

  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  Env& fs_;
  std::string target_;
  std::string path_;
  int fd_ = -1;
};

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the file now at `path` is exactly `expected`: the same inode with
// the same bytes. Its change time is left out, since the rename that moved it
// here set it.
bool holdsVersion(Env& fs, const std::string& path, const FileVersion& expected) {
  std::string bytes;
  struct stat info {};
  if (fs.readFile(path, bytes, info) != 0) return false;
  return info.st_dev == expected.info.st_dev && info.st_ino == expected.info.st_ino &&
         sameTime(info.st_mtim, expected.info.st_mtim) && bytes == expected.bytes;
}

}  // namespace

std::optional<FileVersion> readVersion(Env& fs, const std::string& path, size_t limit) {
  FileVersion version;
  if (fs.readFile(path, version.bytes, version.info, limit) != 0) return std::nullopt;
  return version;
}

bool sameVersion(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim) &&
         sameTime(a.st_ctim, b.st_ctim);
}

std::string resolveLinks(Env& fs, const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops <= maxLinks; ++hops) {
    struct stat info {};
    if (fs.lstat(current, info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target;
    if (int error = fs.readLink(current, target)) fail("Cannot follow the link", path, error);
    current = !target.empty() && target[0] == '/' ? target : directoryOf(current) + "/" + target;
  }
  fail("Cannot follow the link", path, ELOOP);
}

void replaceFileIfUnchanged(Env& fs, const std::string& path, const FileVersion& expected,
                            std::string_view bytes, const std::string& changed) {
  const std::string target = resolveLinks(fs, path);
  // A file the person made read-only is not ours to replace, even where the
  // directory would let a rename do it.
  if ((expected.info.st_mode & 0222) == 0) fail("Cannot write", path, EACCES);
  if (int error = fs.accessWrite(target)) fail("Cannot write", path, error);

  TempFile temp(fs, target, 0600);
  temp.takeIdentityOf(expected.info);
  temp.takeAttributesOf(target);
  const struct stat written = temp.write(bytes);

  // The last look before the swap, with nothing slow left to do in between.
  struct stat now {};
  if (fs.stat(target, now) != 0 || !sameVersion(now, expected.info)) throw StoreError(changed);

  int error = fs.rename(temp.path(), target, RENAME_EXCHANGE);
  if (error == EINVAL || error == ENOSYS) {
    // A file system without the checked swap: the plain rename is the best
    // left, just after the comparison above.
    if (int plain = fs.rename(temp.path(), target, 0)) fail("Cannot replace", path, plain);
    temp.release();
  } else if (error != 0) {
    fail("Cannot replace", path, error);
  } else if (!holdsVersion(fs, temp.path(), expected)) {
    // Someone replaced or rewrote the file between the look and the swap:
    // their version goes back into place and ours is dropped.
    int back = fs.rename(temp.path(), target, RENAME_EXCHANGE);
    struct stat left {};
    bool oursLeft = back == 0 && fs.lstat(temp.path(), left) == 0 && left.st_dev == written.st_dev &&
                    left.st_ino == written.st_ino;
    if (!oursLeft) temp.release();  // never remove what may be someone's data
    if (back != 0) fail("Cannot restore", path, back);
    throw StoreError(changed);
  }
  // After a swap the temporary name holds the old version, which goes now
  // (the destructor unlinks it).
  fs.syncDirectory(directoryOf(target));
}

bool createFileExclusively(Env& fs, const std::string& path, std::string_view bytes) {
  TempFile temp(fs, path, 0666);
  temp.write(bytes);
  int error = fs.rename(temp.path(), path, RENAME_NOREPLACE);
  if (error == EEXIST) return false;
  if (error == EINVAL || error == ENOSYS) {
    // A file system without RENAME_NOREPLACE: a hard link refuses to replace too.
    error = fs.link(temp.path(), path);
    if (error == EEXIST) return false;
    if (error != 0) fail("Cannot create", path, error);
  } else if (error != 0) {
    fail("Cannot create", path, error);
  } else {
    temp.release();
  }
  fs.syncDirectory(directoryOf(path));
  return true;
}

void replaceFileAtomically(Env& fs, const std::string& path, std::string_view bytes) {
  struct stat existing {};
  bool exists = fs.stat(path, existing) == 0;
  TempFile temp(fs, path, 0666);
  if (exists) temp.takeIdentityOf(existing);
  temp.write(bytes);
  if (int error = fs.rename(temp.path(), path, 0)) fail("Cannot replace", path, error);
  temp.release();
  fs.syncDirectory(directoryOf(path));
}

bool isTempFileName(std::string_view name) {
  if (name.size() > tempPrefix.size() + tempSuffix.size() && name.substr(0, tempPrefix.size()) == tempPrefix &&
      name.substr(name.size() - tempSuffix.size()) == tempSuffix)
    return true;
  // Earlier versions named them ".<item>.XXXXXX" (mkstemp's six characters).
  if (name.size() > 12 && name[0] == '.' && name[name.size() - 7] == '.' &&
      name.substr(name.size() - 11, 4) == ".ics") {
    for (char c : name.substr(name.size() - 6))
      if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
  }
  return false;
}

void removeStaleTempFiles(Env& fs, const std::string& directory) {
  const int64_t now = fs.nowMicros() / 1000000;
  std::vector<std::string> names;
  if (fs.listDirectory(directory, names) != 0) return;
  for (const std::string& name : names) {
    if (!isTempFileName(name)) continue;
    const std::string path = directory + "/" + name;
    struct stat info {};
    if (fs.lstat(path, info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (now - info.st_mtim.tv_sec > staleTempSeconds) fs.unlink(path);
  }
}

void makeDirectories(Env& env, const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    std::string prefix = directory.substr(0, slash);
    if (int error = env.mkdir(prefix, 0700); error != 0 && error != EEXIST)
      throw StoreError("Cannot create " + prefix + ": " + std::strerror(error));
    if (slash == std::string::npos) return;
  }
}

std::optional<std::string> readWholeFile(Env& env, const std::string& path, size_t limit) {
  std::string bytes;
  struct stat info {};
  if (env.readFile(path, bytes, info, limit) != 0) return std::nullopt;
  return bytes;
}

}  // namespace tallowick::ical
