#pragma once
// RRULE values read as the file writes them. libical keeps INTERVAL in a
// short and COUNT and the ordinals of BYDAY in ints, and wraps what does not
// fit: INTERVAL=65537 reads as 1, so a rule for every 65537th day becomes a
// daily one, and 32768 as a negative number that drops the rule. Those
// numbers are read here from the file's own lines at full width; libical
// reads the rest of the rule (it refuses other numbers out of their range
// rather than wrapping them).

#include <libical/ical.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tallowick/store/icalendar/recurrence.h"

namespace tallowick::ical {

// A rule as read, before its UNTIL is put into the clock of DTSTART.
struct RuleReading {
  RecurrenceRule rule;  // `until` left unset
  icaltimetype until = icaltime_null_time();
};

// libical's reading of a rule.
RuleReading readingOf(const icalrecurrencetype& rule);

// An RRULE value as written; nothing when it is no rule: libical refuses it,
// or a BYDAY ordinal lies beyond the 53 weeks a year has.
std::optional<RuleReading> readRule(std::string_view value);

// The RRULEs of a calendar's VEVENTs, read from the lines of the file it was
// parsed from.
class EventRules {
 public:
  // Without the file's text: libical's reading of each rule.
  EventRules() = default;

  // Pairs the VEVENTs directly inside the VCALENDAR of `bytes` with those of
  // `calendar`, parsed from them, by order. Where the two readings do not
  // pair up, libical's reading is used; if a rule of the file then has a
  // number libical would wrap, no rule of the file is read at all, rather
  // than a wrong one.
  static EventRules read(icalcomponent* calendar, std::string_view bytes);

  // The rules of one VEVENT of that calendar, in file order.
  std::vector<RuleReading> of(icalcomponent* event) const;

 private:
  bool paired_ = false;
  bool refused_ = false;
  std::unordered_map<const icalcomponent*, std::vector<std::string>> values_;
};

}  // namespace tallowick::ical
