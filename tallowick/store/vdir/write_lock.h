#pragma once
// Serialises the writes of every run of this program for one user: a run that
// changes a file holds the lock from reading the file to replacing it, so two
// runs never both write a version that only one of them read.
//
// The lock is an flock(2) on a file outside the calendars (beside the summary
// cache), so no sync tool or editor ever sees it. Programs that take no lock
// are met by the compare-and-swap of the write itself.

#include "tallowick/store/vdir/layer.h"

#include <string>

#include "tallowick/store/vdir/env.h"

namespace tallowick::ical {

class WriteLock {
 public:
  // Waits up to `waitMilliseconds` for the lock at `lockFile`, creating the
  // file and its directory when missing. Throws StoreError when the lock
  // cannot be had. An empty `lockFile` locks nothing.
  WriteLock(Env& fs, const std::string& lockFile, int waitMilliseconds = defaultWaitMilliseconds);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  // A write takes milliseconds; a run that holds the lock this long is stuck.
  static constexpr int defaultWaitMilliseconds = 10000;

 private:
  Env& fs_;
  int fd_ = -1;
};

}  // namespace tallowick::ical
