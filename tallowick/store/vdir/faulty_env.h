#pragma once
// Test double of the file system: the real one, except that one chosen step
// fails with a chosen errno, or runs a hook just before it (to play another
// writer at that exact moment). It records the steps it was asked to take.

#include "tallowick/store/vdir/layer.h"

#include <errno.h>

#include <functional>
#include <string>
#include <vector>

#include "tallowick/store/vdir/env.h"

namespace tallowick::ical::testing {

enum class Step { open, write, fsync, close, fchmod, fchown, rename, link, unlink };

class FaultyEnv : public EnvWrapper {
 public:
  FaultyEnv() : EnvWrapper(defaultEnv()) {}

  // The `nth` call (from 1) of `step` fails with `error` instead of running.
  void failOn(Step step, int error, int nth = 1) {
    failing_ = step;
    error_ = error;
    nth_ = nth;
  }
  // Runs `hook` once, just before the first call of `step`.
  void before(Step step, std::function<void()> hook) {
    hookStep_ = step;
    hook_ = std::move(hook);
  }
  // A write stops after this many bytes with ENOSPC, as on a full disk.
  void diskFullAfter(size_t bytes) { spaceLeft_ = bytes; }

  const std::vector<Step>& steps() const { return steps_; }

  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    if (int e = enter(Step::open)) return e;
    return EnvWrapper::open(path, flags, mode, fd);
  }
  int write(int fd, std::string_view bytes) override {
    if (int e = enter(Step::write)) return e;
    if (bytes.size() > spaceLeft_) {
      EnvWrapper::write(fd, bytes.substr(0, spaceLeft_));
      spaceLeft_ = 0;
      return ENOSPC;
    }
    spaceLeft_ -= bytes.size();
    return EnvWrapper::write(fd, bytes);
  }
  int fsync(int fd) override {
    if (int e = enter(Step::fsync)) return e;
    return EnvWrapper::fsync(fd);
  }
  int close(int fd) override {
    if (int e = enter(Step::close)) {
      EnvWrapper::close(fd);  // the descriptor is gone either way
      return e;
    }
    return EnvWrapper::close(fd);
  }
  int fchmod(int fd, mode_t mode) override {
    if (int e = enter(Step::fchmod)) return e;
    return EnvWrapper::fchmod(fd, mode);
  }
  int fchown(int fd, uid_t owner, gid_t group) override {
    if (int e = enter(Step::fchown)) return e;
    return EnvWrapper::fchown(fd, owner, group);
  }
  int rename(const std::string& from, const std::string& to, unsigned flags) override {
    if (int e = enter(Step::rename)) return e;
    return EnvWrapper::rename(from, to, flags);
  }
  int link(const std::string& from, const std::string& to) override {
    if (int e = enter(Step::link)) return e;
    return EnvWrapper::link(from, to);
  }
  int unlink(const std::string& path) override {
    if (int e = enter(Step::unlink)) return e;
    return EnvWrapper::unlink(path);
  }

 private:
  int enter(Step step) {
    steps_.push_back(step);
    if (hook_ && step == hookStep_) std::exchange(hook_, nullptr)();
    if (step == failing_ && error_ != 0 && --nth_ == 0) return std::exchange(error_, 0);
    return 0;
  }

  std::vector<Step> steps_;
  Step failing_ = Step::open;
  int error_ = 0;
  int nth_ = 0;
  Step hookStep_ = Step::open;
  std::function<void()> hook_;
  size_t spaceLeft_ = SIZE_MAX;
};

}  // namespace tallowick::ical::testing
