#pragma once
// Where time zones come from: every conversion between a wall-clock time and
// an instant, for events, due dates and the dates of the command line, goes
// through one of these, so that all of them agree.
//
// Abstract so that tests can hand in zones of their own. The real source is
// systemZones(): the system's tzdata.

#include <string_view>

#include "tallowick/zones/zone_rules.h"

namespace tallowick::zones {

class ZoneSource {
 public:
  virtual ~ZoneSource() = default;

  // The zone of an IANA name ("Europe/Berlin", "UTC"), or null when there is
  // none of that name. The zone lives as long as the source. Thread-safe.
  virtual const ZoneRules* find(std::string_view name) const = 0;

  // The process's local zone, never null. Thread-safe.
  virtual const ZoneRules& local() const = 0;
};

}  // namespace tallowick::zones
