#include "tallowick/store/icalendar/ical_time.h"

#include <chrono>
#include <cstdio>

#include "tallowick/zones/civil.h"

namespace tallowick::ical {

ZonedTime zonedTimeOf(icalproperty* property, icaltimetype value) {
  ZonedTime time{value, {}};
  if (value.is_date || icaltime_is_utc(value)) return time;
  if (icalparameter* p = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER)) {
    if (const char* tzid = icalparameter_get_tzid(p)) time.tzid = tzid;
  }
  return time;
}

std::string systemZoneName(std::string_view tzid, const zones::ZoneSource& zones) {
  constexpr std::string_view libicalPrefix = "/freeassociation.sourceforge.net/";
  if (tzid.substr(0, libicalPrefix.size()) == libicalPrefix) {
    tzid.remove_prefix(libicalPrefix.size());
    if (tzid.substr(0, 7) == "Tzfile/") tzid.remove_prefix(7);
  }
  return zones.find(tzid) ? std::string(tzid) : std::string();
}

std::string utcStamp(Instant instant) {
  int64_t seconds = std::chrono::floor<std::chrono::seconds>(instant).time_since_epoch().count();
  zones::CivilTime t = zones::civilFromWall(seconds);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld%02d%02dT%02d%02d%02dZ", static_cast<long long>(t.year), t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

}  // namespace tallowick::ical
