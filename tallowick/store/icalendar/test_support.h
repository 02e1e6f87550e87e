#pragma once
// Test helpers for the iCalendar store: a process time zone set for one test,
// instants written as UTC fields, and temporary directories.

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/zones/system_zones.h"
#include "tallowick/zones/scoped_time_zone.h"

namespace tallowick::ical::testing {

using zones::testing::ScopedTimeZone;

inline Instant utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return instantFromTimeT(timegm(&t));
}

// A VCALENDAR around the given lines (LF endings; libical takes both).
inline std::string calendar(const std::string& body) {
  return "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//test//EN\n" + body + "END:VCALENDAR\n";
}

// A file parsed with the system's zones.
inline std::optional<CalendarFile> parseFile(std::string_view text) {
  return CalendarFile::parse(text, zones::systemZones());
}

// Every occurrence in the window, one value each.
inline std::vector<EventOccurrence> occurrencesOf(const CalendarFile& file, Instant start, Instant end) {
  OccurrenceList list = file.occurrenceList(start, end);
  std::vector<EventOccurrence> out;
  for (size_t i = 0; i < list.size(); ++i) out.push_back(list[i]);
  return out;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tallowick-store-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace tallowick::ical::testing
