#pragma once
// The clocks an event's times are written in: UTC, the process's local time
// (floating times and dates), a system zone, or a VTIMEZONE block of the
// file. Each turns wall-clock seconds (see recurrence.h) into UTC seconds and
// back, for any year from 0001 to 9999.
//
// None of them uses libical's time-zone code: its zones end in 2582 (custom
// blocks in 2035), and it keeps process-wide state.

#include <libical/ical.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::ical {

class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual int64_t toUtc(int64_t wall) const = 0;
  virtual int64_t toWall(int64_t utc) const = 0;
};

// The wall-clock seconds of a date or date-time as written (a date is its
// midnight); nothing when its fields are not a date of 0001-9999.
std::optional<int64_t> wallOf(const icaltimetype& t);

// A libical RRULE as the expansion takes it; `until` is UNTIL already in
// the wall-clock time of DTSTART.
struct RecurrenceRule;
RecurrenceRule ruleFromIcal(const icalrecurrencetype& rule, std::optional<int64_t> until);

// The clocks of one calendar file, looked up by the TZID of each time: a
// system zone by its IANA name, else the file's own block of that TZID, else
// a system zone by a name read leniently (see ZoneNaming), else local time.
// Floating date-times are in the calendar's X-WR-TIMEZONE (as Google and
// Apple publish calendars) when it names a system zone, else local; dates
// are always local. A block of the file is read on first use and kept with
// the object.
class FileClocks {
 public:
  // The local time is `zones.local()` when the object is made. Both must
  // outlive it.
  FileClocks(icalcomponent* calendar, const zones::ZoneSource& zones);
  ~FileClocks();
  const WallClock& of(const ZonedTime& time);
  const WallClock& local() const { return *local_; }
  static const WallClock& utc();
  const zones::ZoneSource& zoneSource() const { return zones_; }

  // The IANA name of the system zone a TZID of this file stands for; empty
  // when it is the file's block or nothing known.
  std::string systemZoneOf(std::string_view tzid) const;
  // The IANA name of X-WR-TIMEZONE; empty when floating times are local.
  const std::string& floatingZone() const { return floatingZone_; }

 private:
  const zones::ZoneSource& zones_;
  std::unique_ptr<WallClock> local_;
  std::unique_ptr<WallClock> floating_;  // null: local
  std::string floatingZone_;
  // The file's VTIMEZONE blocks by TZID, the first of each name.
  std::map<std::string, icalcomponent*, std::less<>> blocks_;
  std::map<std::string, std::unique_ptr<WallClock>, std::less<>> clocks_;
};

// Due-date components of a DUE value: a date gives the date only; a floating
// date-time its fields (and the IANA name of X-WR-TIMEZONE, when the file
// has one); a standard zone its fields and IANA name; UTC its
// fields and "UTC"; a zone known only from the file's block is converted
// through it to UTC.
DateComponents dueComponentsOf(const ZonedTime& time, FileClocks& clocks);

}  // namespace tallowick::ical
