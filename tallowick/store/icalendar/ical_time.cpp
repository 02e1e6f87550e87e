#include "tallowick/store/icalendar/ical_time.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "tallowick/store/icalendar/libical_threads.h"

namespace tallowick::ical {
namespace {

constexpr std::string_view libicalPrefix = "/freeassociation.sourceforge.net/";

Instant fromTimeT(time_t t) { return instantFromTimeT(t); }

icaltimetype withoutZone(icaltimetype t) {
  t.zone = nullptr;
  return t;
}

time_t utcTimeT(const icaltimetype& t) {
  std::tm fields{};
  fields.tm_year = t.year - 1900;
  fields.tm_mon = t.month - 1;
  fields.tm_mday = t.day;
  fields.tm_hour = t.hour;
  fields.tm_min = t.minute;
  fields.tm_sec = t.second;
  return timegm(&fields);
}

icaltimezone* fileZone(const std::string& tzid, icalcomponent* calendar) {
  if (!calendar || tzid.empty()) return nullptr;
  return icalcomponent_get_timezone(calendar, tzid.c_str());
}

}  // namespace

ZonedTime zonedTimeOf(icalproperty* property, icaltimetype value) {
  ZonedTime time{value, {}};
  if (value.is_date || icaltime_is_utc(value)) return time;
  if (icalparameter* p = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER)) {
    if (const char* tzid = icalparameter_get_tzid(p)) time.tzid = tzid;
  }
  return time;
}

std::string systemZoneName(const std::string& tzid) {
  std::string_view name = tzid;
  if (name.substr(0, libicalPrefix.size()) == libicalPrefix) name.remove_prefix(libicalPrefix.size());
  // libical opens the named file under the zoneinfo directory: keep the name
  // inside it.
  if (name.empty() || name.front() == '/' || name.find("..") != std::string_view::npos) return {};
  std::string candidate(name);
  return builtinZone(candidate) ? candidate : std::string();
}

icaltimezone* systemZone(const std::string& tzid) {
  std::string name = systemZoneName(tzid);
  return name.empty() ? nullptr : builtinZone(name);
}

Instant localInstant(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return fromTimeT(std::mktime(&fields));
}

Instant instantOf(const ZonedTime& time, icalcomponent* calendar) {
  const icaltimetype& t = time.wall;
  if (t.is_date) return localInstant(t.year, t.month, t.day, 0, 0, 0);
  if (icaltime_is_utc(t)) return fromTimeT(utcTimeT(t));
  if (!time.tzid.empty()) {
    icaltimezone* zone = systemZone(time.tzid);
    if (!zone) zone = fileZone(time.tzid, calendar);
    if (zone) return fromTimeT(icaltime_as_timet_with_zone(withoutZone(t), zone));
  }
  return localInstant(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

DateComponents dueComponentsOf(const ZonedTime& time, icalcomponent* calendar) {
  const icaltimetype& t = time.wall;
  DateComponents c;
  c.year = t.year;
  c.month = t.month;
  c.day = t.day;
  if (t.is_date) return c;
  c.hour = t.hour;
  c.minute = t.minute;
  c.second = t.second;
  if (icaltime_is_utc(t)) {
    c.timeZone = "UTC";
  } else if (!time.tzid.empty()) {
    if (std::string name = systemZoneName(time.tzid); !name.empty()) {
      c.timeZone = name;
    } else if (icaltimezone* zone = fileZone(time.tzid, calendar)) {
      time_t instant = icaltime_as_timet_with_zone(withoutZone(t), zone);
      std::tm utc{};
      gmtime_r(&instant, &utc);
      c = DateComponents{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, "UTC"};
    }
  }
  return c;
}

std::string utcStamp(Instant instant) {
  time_t t = toTimeT(instant);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buffer;
}

}  // namespace tallowick::ical
