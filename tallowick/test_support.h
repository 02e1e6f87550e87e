#pragma once
// Helpers shared by tallowick's in-process tests.

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>

#include "tallowick/helper_error.h"
#include "tallowick/store/calendar_store.h"

namespace tallowick::testing {

// Sets TZ for the life of the object, so local-time results are fixed.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_)
      ::setenv("TZ", previous_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// DateComponents has no ==; compare its fields.
inline auto fieldsOf(const DateComponents& c) {
  return std::tie(c.year, c.month, c.day, c.hour, c.minute, c.second, c.timeZone);
}

inline Instant at(long long unixSeconds) { return Instant(std::chrono::seconds(unixSeconds)); }

// A request file in a fresh temporary directory, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& content, const std::string& name = "request.json") {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("tallowick_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / name).string();
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::filesystem::remove_all(dir_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

// The message of the HelperError that `f` throws, or "(no HelperError)".
template <typename F>
std::string helperMessage(F&& f) {
  try {
    f();
  } catch (const HelperError& e) {
    return e.message();
  }
  return "(no HelperError)";
}

}  // namespace tallowick::testing
