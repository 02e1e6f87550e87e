#pragma once
// The occurrences of a calendar's VEVENTs in a window. libical's own walker
// leaves RECURRENCE-ID overrides out, so the expansion is done here: RRULE,
// RDATE and EXDATE on the master, and each override replacing the occurrence
// it names.

#include <libical/ical.h>

#include <cstdint>
#include <vector>

#include "tallowick/store/icalendar/occurrence_list.h"
#include "tallowick/store/icalendar/rule_text.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::ical {

// The steps that expanding one file's events may take for one listing (about
// a second's work). A file that needs more, such as a rule repeating every
// second with a COUNT of billions, is skipped as a file that does not parse
// would be; no listing of it is ever cut short.
inline constexpr int64_t expansionStepsPerFile = 100'000'000;

// Occurrences that overlap [start, end]: an occurrence overlaps when it starts
// no later than `end` and ends after `start` (or, lasting no time, starts at or
// after `start`). Unsorted.
// `rules` are the RRULEs of its events; `steps` is the budget (tests give
// less).
OccurrenceList expandEvents(icalcomponent* calendar, const EventRules& rules, const zones::ZoneSource& zones,
                            Instant start, Instant end, int64_t steps = expansionStepsPerFile);

// The time a calendar's events cover: from the earliest start to the latest
// end of any occurrence, or without end when a rule repeats for ever. The
// last end may lie a little later than the true one, never earlier. When
// finding it takes more than the step budget, the file's events are too
// costly to expand: `overBudget`, and they are never listed (a verdict on
// the file alone, so it may be kept until the file changes).
struct EventSpan {
  bool any = false;
  bool unbounded = false;
  bool overBudget = false;
  Instant first;
  Instant last;
};
EventSpan eventSpan(icalcomponent* calendar, const EventRules& rules, const zones::ZoneSource& zones,
                    int64_t steps = expansionStepsPerFile);

}  // namespace tallowick::ical
