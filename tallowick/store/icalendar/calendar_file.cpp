#include "tallowick/store/icalendar/calendar_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "tallowick/store/icalendar/component_text.h"
#include "tallowick/store/icalendar/content_lines.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/exact_text.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/libical_threads.h"
#include "tallowick/store/icalendar/wall_clock.h"

namespace tallowick::ical {

namespace {

// Whether the text stays within the limits: nesting and parameters per line.
bool withinLimits(std::string_view bytes, const ParseLimits& limits) {
  ContentLineReader lines(bytes);
  ContentLine line;
  size_t depth = 0;
  while (lines.next(line)) {
    if (line.parameters > limits.parametersPerLine) return false;
    if (line.isNamed("BEGIN") && ++depth > limits.nesting) return false;
    if (line.isNamed("END") && depth > 0) --depth;
  }
  return true;
}

// Feeds libical's parser one line at a time, asking the caller's guard now
// and then whether to go on.
struct Feed {
  std::string_view rest;
  const std::function<bool()>* interrupted;
  size_t lines = 0;
  bool stopped = false;
};

char* nextLine(char* out, size_t size, void* data) {
  Feed& feed = *static_cast<Feed*>(data);
  if (feed.rest.empty() || feed.stopped || size < 2) return nullptr;
  if (++feed.lines % 256 == 0 && *feed.interrupted && (*feed.interrupted)()) {
    feed.stopped = true;
    return nullptr;
  }
  size_t n = std::min(feed.rest.size(), size - 1);
  size_t lf = feed.rest.substr(0, n).find('\n');
  if (lf != std::string_view::npos) n = lf + 1;
  std::memcpy(out, feed.rest.data(), n);
  out[n] = '\0';
  feed.rest.remove_prefix(n);
  return out;
}

}  // namespace

std::optional<CalendarFile> CalendarFile::parse(std::string_view bytes, const zones::ZoneSource& zones,
                                                const ParseLimits& limits, const std::function<bool()>& interrupted) {
  // libical wants terminated lines; an embedded NUL would cut one short, so
  // such a file counts as malformed.
  if (bytes.size() > limits.bytes || bytes.find('\0') != std::string_view::npos || !withinLimits(bytes, limits))
    return std::nullopt;
  prepareLibical();
  Feed feed{bytes, &interrupted};
  icalparser* parser = icalparser_new();
  if (!parser) return std::nullopt;
  icalparser_set_gen_data(parser, &feed);
  icalcomponent* root = icalparser_parse(parser, nextLine);
  icalparser_free(parser);
  if (feed.stopped) {
    if (root) icalcomponent_free(root);
    throw ParseInterrupted();
  }
  if (!root) return std::nullopt;
  if (icalcomponent_isa(root) != ICAL_VCALENDAR_COMPONENT) {
    icalcomponent_free(root);
    return std::nullopt;
  }
  CalendarFile file(root, zones);
  file.priorities_ = restoreExactTexts(root, bytes);
  file.rules_ = EventRules::read(root, bytes);
  return file;
}

OccurrenceList CalendarFile::occurrenceList(Instant start, Instant end, int64_t steps) const {
  return expandEvents(root_.get(), rules_, *zones_, start, end, steps);
}

OccurrenceList CalendarFile::occurrenceList(Instant start, Instant end) const {
  return occurrenceList(start, end, expansionStepsPerFile);
}

EventSpan CalendarFile::eventSpan() const { return ical::eventSpan(root_.get(), rules_, *zones_); }

std::vector<TodoItem> CalendarFile::todos() const {
  std::vector<TodoItem> items;
  FileClocks clocks(root_.get(), *zones_);
  int index = 0;
  for (icalcomponent* todo = icalcomponent_get_first_component(root_.get(), ICAL_VTODO_COMPONENT); todo;
       todo = icalcomponent_get_next_component(root_.get(), ICAL_VTODO_COMPONENT), ++index) {
    TodoItem item;
    item.index = index;
    item.title = textProperty(todo, ICAL_SUMMARY_PROPERTY);
    item.notes = textProperty(todo, ICAL_DESCRIPTION_PROPERTY);
    if (icalproperty* status = icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY)) {
      item.isCompleted = icalproperty_get_status(status) == ICAL_STATUS_COMPLETED;
      item.isCancelled = icalproperty_get_status(status) == ICAL_STATUS_CANCELLED;
    }
    if (icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY)) item.isCompleted = true;
    icalproperty* priority = icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY);
    if (priority) item.priority = icalproperty_get_priority(priority);
    // libical's int wraps what it cannot hold; the content line has the
    // number itself. Where libical could hold it, both must agree.
    if (priorities_ && static_cast<size_t>(index) < priorities_->size()) {
      std::optional<int64_t> exact = (*priorities_)[index];
      if (!exact) item.priority = 0;
      else if (*exact < INT32_MIN || *exact > INT32_MAX || !priority || *exact == item.priority) item.priority = *exact;
    }
    if (icalproperty* due = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY)) {
      icaltimetype value = icalproperty_get_due(due);
      if (!icaltime_is_null_time(value)) item.due = dueComponentsOf(zonedTimeOf(due, value), clocks);
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace tallowick::ical
