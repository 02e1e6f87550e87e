#include "tallowick/store/icalendar/ical_time.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

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

namespace {

std::string_view withoutLibicalPrefix(std::string_view tzid) {
  constexpr std::string_view libicalPrefix = "/freeassociation.sourceforge.net/";
  if (tzid.substr(0, libicalPrefix.size()) == libicalPrefix) {
    tzid.remove_prefix(libicalPrefix.size());
    if (tzid.substr(0, 7) == "Tzfile/") tzid.remove_prefix(7);
  }
  return tzid;
}

// The IANA name of a Windows zone name, for the world as a whole (CLDR's
// territory "001"); empty when it is none.
std::string ianaOfWindowsName(std::string_view name) {
  // Windows names are short; this also keeps the length an int32_t.
  if (name.empty() || name.size() > 200) return {};
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString id;
  icu::TimeZone::getIDForWindowsID(icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size()))),
                                   nullptr, id, status);
  std::string out;
  if (U_SUCCESS(status)) id.toUTF8String(out);
  return out;
}

}  // namespace

std::string systemZoneName(std::string_view tzid, const zones::ZoneSource& zones, ZoneNaming naming) {
  std::string_view name = withoutLibicalPrefix(tzid);
  if (zones.find(name)) return std::string(name);
  if (naming == ZoneNaming::exact) return {};
  constexpr std::string_view stray = " \t\"'";
  size_t first = tzid.find_first_not_of(stray), last = tzid.find_last_not_of(stray);
  name = first == std::string_view::npos ? std::string_view() : withoutLibicalPrefix(tzid.substr(first, last - first + 1));
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  if (zones.find(name)) return std::string(name);
  std::string windows = ianaOfWindowsName(name);
  return !windows.empty() && zones.find(windows) ? windows : std::string();
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
