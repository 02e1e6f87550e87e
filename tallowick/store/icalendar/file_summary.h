#pragma once
// What a store may keep about one file between runs: enough to know, without
// reading it, that the file has nothing for a query, and its open todos as
// they read, so listing reminders parses nothing. Only valid for the very
// bytes it was made from; events that may overlap a window are always read
// and parsed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/calendar_file.h"

namespace tallowick::ical {

struct FileSummary {
  bool parses = false;
  bool hasIncompleteTodos = false;
  bool hasEvents = false;
  bool unbounded = false;   // a rule without end: no last end
  bool overBudget = false;  // events too costly to expand: never listed
  int64_t firstStart = 0;   // seconds since the epoch
  int64_t lastEnd = 0;
  std::vector<TodoItem> openTodos;  // neither completed nor cancelled, in file order
  bool operator==(const FileSummary&) const = default;
};

// The summary of a parsed file, or of one that does not parse.
FileSummary summarize(const std::optional<CalendarFile>& file);

// Whether the file may have an occurrence overlapping [start, end]. Spans are
// widened by more than a day on both sides: floating times and dates move with
// the local zone, which may differ from the one the summary was made in.
bool mayOverlap(const FileSummary& summary, Instant start, Instant end);

}  // namespace tallowick::ical
