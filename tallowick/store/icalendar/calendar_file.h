#pragma once
// One .ics file of a collection, parsed: its events and its todos. Parsing is
// per file so that a file that does not parse costs only itself.

#include <libical/ical.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/parse_limits.h"
#include "tallowick/store/icalendar/todo_item.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::ical {

// Thrown when the caller's last-resort guard stopped a parse; unlike a file
// that does not parse, that says nothing about the file.
class ParseInterrupted : public std::runtime_error {
 public:
  ParseInterrupted() : std::runtime_error("parse interrupted") {}
};

class CalendarFile {
 public:
  // Parses the bytes of a file; nothing when they are not an iCalendar
  // object or go beyond `limits`. Times are converted with `zones`, which
  // must outlive the file. `interrupted`, when given, is asked every few
  // hundred lines and stops the parse with ParseInterrupted when it says so.
  static std::optional<CalendarFile> parse(std::string_view bytes, const zones::ZoneSource& zones,
                                           const ParseLimits& limits = {},
                                           const std::function<bool()>& interrupted = {});

  // Why parse() gives nothing for these bytes, in a person's words ("is
  // nested more than 50 components deep", "is not an iCalendar calendar"), or
  // why its events are never listed; nothing when neither is so.
  static std::optional<std::string> refusal(std::string_view bytes, const zones::ZoneSource& zones,
                                            const ParseLimits& limits = {});

  // Occurrences of the file's events that overlap [start, end], recurring
  // events expanded, in the order found (not sorted); none when expanding
  // them would take more than `steps` (see event_expansion.h).
  OccurrenceList occurrenceList(Instant start, Instant end, int64_t steps) const;
  OccurrenceList occurrenceList(Instant start, Instant end) const;

  std::vector<TodoItem> todos() const;

  // The time the file's events cover (see event_expansion.h).
  EventSpan eventSpan(int64_t steps = expansionStepsPerFile) const;

  const zones::ZoneSource& zoneSource() const { return *zones_; }

 private:
  struct Free {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
  };
  CalendarFile(icalcomponent* root, const zones::ZoneSource& zones) : root_(root), zones_(&zones) {}
  std::unique_ptr<icalcomponent, Free> root_;
  const zones::ZoneSource* zones_;
  EventRules rules_;  // RRULEs as the file writes them (see rule_text.h)
  // Each VTODO's priority as its content line has it (see exact_text.h).
  std::optional<std::vector<std::optional<int64_t>>> priorities_;
};

}  // namespace tallowick::ical
