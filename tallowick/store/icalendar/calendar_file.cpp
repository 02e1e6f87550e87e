#include "tallowick/store/icalendar/calendar_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "tallowick/store/icalendar/component_text.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/exact_text.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/libical_threads.h"
#include "tallowick/store/icalendar/wall_clock.h"

namespace tallowick::ical {

namespace {

// Feeds libical's parser one physical line at a time, asking the caller's
// guard now and then whether to go on. Physical lines longer than foldAt are
// folded (a line break and a blank inserted, which iCalendar reads as
// nothing): libical reads a long physical line in time that grows with the
// square of its length, a long folded one in linear time.
constexpr size_t foldAt = 1000;

struct Feed {
  std::string_view rest;
  const std::function<bool()>* interrupted;
  size_t lines = 0;
  size_t column = 0;  // bytes of the current physical line handed over
  bool stopped = false;
};

char* nextLine(char* out, size_t size, void* data) {
  Feed& feed = *static_cast<Feed*>(data);
  if (feed.rest.empty() || feed.stopped || size < 4) return nullptr;
  if (feed.column == 0 && ++feed.lines % 256 == 0 && *feed.interrupted && (*feed.interrupted)()) {
    feed.stopped = true;
    return nullptr;
  }
  const size_t room = size - 1;
  size_t n = std::min(feed.rest.size(), room);
  size_t lf = feed.rest.substr(0, n).find('\n');
  if (lf != std::string_view::npos) n = lf + 1;
  if (lf == std::string_view::npos && feed.column + n > foldAt) {
    size_t take = std::min(feed.column < foldAt ? foldAt - feed.column : 1, room - 2);
    // Not right after a CR, which would read as half of a CRLF, and not
    // right before the line's own end.
    if (take > 0 && feed.rest[take - 1] == '\r') --take;
    if (take > 0 && take < feed.rest.size() && feed.rest[take] != '\r' && feed.rest[take] != '\n') {
      std::memcpy(out, feed.rest.data(), take);
      out[take] = '\n';
      out[take + 1] = ' ';
      out[take + 2] = '\0';
      feed.rest.remove_prefix(take);
      feed.column = 1;
      return out;
    }
  }
  std::memcpy(out, feed.rest.data(), n);
  out[n] = '\0';
  feed.rest.remove_prefix(n);
  feed.column = lf != std::string_view::npos ? 0 : feed.column + n;
  return out;
}

}  // namespace

std::optional<CalendarFile> CalendarFile::parse(std::string_view bytes, const zones::ZoneSource& zones,
                                                const ParseLimits& limits, const std::function<bool()>& interrupted) {
  // libical wants terminated lines; an embedded NUL would cut one short, so
  // such a file counts as malformed.
  if (bytes.find('\0') != std::string_view::npos || !withinLimits(bytes, limits)) return std::nullopt;
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

std::optional<std::string> CalendarFile::refusal(std::string_view bytes, const zones::ZoneSource& zones,
                                                 const ParseLimits& limits) {
  if (bytes.find('\0') != std::string_view::npos) return "holds a NUL byte";
  if (std::optional<std::string> exceeded = limitExceeded(bytes, limits)) return exceeded;
  std::optional<CalendarFile> file = parse(bytes, zones, limits);
  if (!file) return "is not an iCalendar calendar (BEGIN:VCALENDAR ... END:VCALENDAR)";
  if (file->eventSpan().overBudget) return "has events too costly to expand (a rule that cannot be counted quickly)";
  return std::nullopt;
}

OccurrenceList CalendarFile::occurrenceList(Instant start, Instant end, int64_t steps) const {
  return expandEvents(root_.get(), rules_, *zones_, start, end, steps);
}

OccurrenceList CalendarFile::occurrenceList(Instant start, Instant end) const {
  return occurrenceList(start, end, expansionStepsPerFile);
}

EventSpan CalendarFile::eventSpan(int64_t steps) const { return ical::eventSpan(root_.get(), rules_, *zones_, steps); }

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
