#include "tallowick/store/vdir/write_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/atomic_file.h"

namespace tallowick::ical {
namespace {

[[noreturn]] void fail(const std::string& lockFile, const std::string& reason) {
  throw StoreError("Cannot lock " + lockFile + ": " + reason);
}

}  // namespace

WriteLock::WriteLock(Env& fs, const std::string& lockFile, int waitMilliseconds) : fs_(fs) {
  if (lockFile.empty()) return;
  if (size_t slash = lockFile.rfind('/'); slash != std::string::npos && slash > 0)
    makeDirectories(fs_, lockFile.substr(0, slash));
  const int64_t deadline = fs_.monotonicMicros() + int64_t{waitMilliseconds} * 1000;
  int64_t pause = 200;
  for (;;) {
    int fd = -1;
    if (int error = fs_.open(lockFile, O_RDWR | O_CREAT, 0600, fd)) fail(lockFile, std::strerror(error));
    int error = fs_.flock(fd, LOCK_EX | LOCK_NB);
    if (error == 0) {
      // The file may have been removed (a cleaned cache) between our open and
      // the lock; a lock on a removed file guards nothing, so start again.
      struct stat held {}, named {};
      if (fs_.fstat(fd, held) == 0 && fs_.stat(lockFile, named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = fd;
        return;
      }
      fs_.close(fd);
      continue;
    }
    fs_.close(fd);
    if (error != EWOULDBLOCK) fail(lockFile, std::strerror(error));
    if (fs_.monotonicMicros() >= deadline) fail(lockFile, "another run of tallowick holds it");
    fs_.sleepMicros(pause);
    pause = std::min<int64_t>(pause * 2, 20000);
  }
}

WriteLock::~WriteLock() {
  // Closing drops the lock.
  if (fd_ >= 0) fs_.close(fd_);
}

}  // namespace tallowick::ical
