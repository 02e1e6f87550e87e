#pragma once
// Test helper: TZ set for the lifetime of the object, as the person's
// session would set it.

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace tallowick::zones::testing {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) old_ = old;
    if (zone) setenv("TZ", zone, 1);
    else unsetenv("TZ");
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) setenv("TZ", old_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace tallowick::zones::testing
