#include "tallowick/store/vdir/write_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/atomic_file.h"

namespace tallowick::ical {
namespace {

[[noreturn]] void fail(const std::string& lockFile, const std::string& reason) {
  throw StoreError("Cannot lock " + lockFile + ": " + reason);
}

}  // namespace

WriteLock::WriteLock(FileSystem& fs, const std::string& lockFile, int waitMilliseconds) : fs_(fs) {
  if (lockFile.empty()) return;
  if (size_t slash = lockFile.rfind('/'); slash != std::string::npos && slash > 0)
    makeDirectories(lockFile.substr(0, slash));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    int fd = -1;
    if (int error = fs_.open(lockFile, O_RDWR | O_CREAT, 0600, fd)) fail(lockFile, std::strerror(error));
    int error = fs_.flock(fd, LOCK_EX | LOCK_NB);
    if (error == 0) {
      // The file may have been removed (a cleaned cache) between our open and
      // the lock; a lock on a removed file guards nothing, so start again.
      struct stat held {}, named {};
      if (::fstat(fd, &held) == 0 && fs_.stat(lockFile, named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = fd;
        return;
      }
      fs_.close(fd);
      continue;
    }
    fs_.close(fd);
    if (error != EWOULDBLOCK) fail(lockFile, std::strerror(error));
    if (std::chrono::steady_clock::now() >= deadline) fail(lockFile, "another run of tallowick holds it");
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

WriteLock::~WriteLock() {
  // Closing drops the lock.
  if (fd_ >= 0) fs_.close(fd_);
}

}  // namespace tallowick::ical
