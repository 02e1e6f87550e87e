#pragma once
// A private evolution-data-server (EDS) for tests: a session bus of its own
// in a throw-away home, EDS's source registry and calendar factory started
// on it (their helpers are started by the bus as needed), the sources and
// their calendar files written before EDS starts. Everything it started is
// stopped when it goes, and killed with the test process if that dies first.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// A dbus-daemon on a socket of its own. Without `services` it can start
// nothing: a session bus of a desktop without EDS.
class PrivateBus {
 public:
  PrivateBus(const std::filesystem::path& dir, const std::map<std::string, std::string>& env, bool services);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }
  // Whether a process owns `name` on this bus now.
  bool hasOwner(const std::string& name) const;

 private:
  std::string address_;
  pid_t pid_ = -1;
};

struct EdsSource {
  std::string uid;
  std::string title;
  bool taskList = false;
  std::string ics;  // the VCALENDAR that EDS starts with
  bool readOnly = false;
};

class PrivateEds {
 public:
  // `env` is the tests' environment (HOME, XDG_* of `home`, TZ); EDS runs in
  // it. Throws std::runtime_error when EDS does not come up within 20 s.
  PrivateEds(const std::filesystem::path& home, std::map<std::string, std::string> env,
             const std::vector<EdsSource>& sources);
  ~PrivateEds();
  PrivateEds(const PrivateEds&) = delete;
  PrivateEds& operator=(const PrivateEds&) = delete;

  const std::string& busAddress() const { return bus_.address(); }
  pid_t factory() const { return factory_; }

 private:
  PrivateBus bus_;
  pid_t registry_ = -1;
  pid_t factory_ = -1;
};

}  // namespace e2e
