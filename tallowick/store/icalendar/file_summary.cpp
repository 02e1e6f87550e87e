#include "tallowick/store/icalendar/file_summary.h"

#include <chrono>

#include "tallowick/store/icalendar/event_expansion.h"

namespace tallowick::ical {
namespace {

// Floating times and dates move with the local zone, which may differ from
// the one a summary was made in by up to 26 hours.
constexpr int64_t marginSeconds = 27 * 3600;

int64_t secondsOf(Instant t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

FileSummary summarize(const std::optional<CalendarFile>& file) {
  FileSummary s;
  if (!file) return s;
  s.parses = true;
  for (TodoItem& todo : file->todos())
    if (!todo.isCompleted && !todo.isCancelled) s.openTodos.push_back(std::move(todo));
  s.hasIncompleteTodos = !s.openTodos.empty();
  EventSpan span = file->eventSpan();
  s.hasEvents = span.any;
  s.unbounded = span.unbounded;
  s.overBudget = span.overBudget;
  if (span.any) {
    s.firstStart = secondsOf(span.first);
    s.lastEnd = span.unbounded ? s.firstStart : secondsOf(span.last);
  }
  return s;
}

bool mayOverlap(const FileSummary& s, Instant start, Instant end) {
  if (!s.parses || !s.hasEvents || s.overBudget) return false;
  if (s.firstStart - marginSeconds > secondsOf(end)) return false;
  return s.unbounded || s.lastEnd + marginSeconds >= secondsOf(start);
}

}  // namespace tallowick::ical
