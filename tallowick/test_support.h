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
#include "tallowick/zones/scoped_time_zone.h"

namespace tallowick::testing {

using zones::testing::ScopedTimeZone;

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
