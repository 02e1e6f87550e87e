#include "tallowick/store/icalendar/calendar_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tallowick/store/icalendar/component_text.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/exact_text.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/libical_threads.h"

namespace tallowick::ical {

namespace {

// Feeds libical's parser one line at a time and stops it once the file has
// cost more than its budget: some malformed files make libical's parser take
// time and memory that grow with the square of their size.
struct Feed {
  std::string_view rest;
  std::chrono::steady_clock::time_point deadline;
  size_t heapBudget = 0;
  size_t heapLimit = 0;  // set at the first check
  size_t lines = 0;
  bool overBudget = false;
};

// The process's resident memory, from /proc/self/statm. Not mallinfo2: it
// walks glibc's arenas, which a replaced allocator (the sanitizers') leaves
// unset, and crashes there.
size_t heapInUse() {
  int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[128];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  unsigned long long size = 0, resident = 0;
  if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
  return static_cast<size_t>(resident) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

char* nextLine(char* out, size_t size, void* data) {
  Feed& feed = *static_cast<Feed*>(data);
  if (feed.rest.empty() || feed.overBudget || size < 2) return nullptr;
  // The memory baseline is taken at the first check, not before parsing:
  // most files end sooner, and reading /proc for each of them was a good part
  // of a warm listing. The first 256 lines, each at most one buffer of the
  // parser's, cannot have used a noticeable part of the budget.
  if (++feed.lines % 256 == 0) {
    size_t heap = heapInUse();
    if (feed.heapLimit == 0) feed.heapLimit = heap + feed.heapBudget;
    if (std::chrono::steady_clock::now() > feed.deadline || heap > feed.heapLimit) {
      feed.overBudget = true;
      return nullptr;
    }
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

std::optional<CalendarFile> CalendarFile::parse(std::string_view bytes) { return parse(bytes, parseTimeBudget); }

std::optional<CalendarFile> CalendarFile::parse(std::string_view bytes, std::chrono::milliseconds budget) {
  // libical wants terminated lines; an embedded NUL would cut one short, so
  // such a file counts as malformed.
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  prepareLibical();
  Feed feed{bytes, std::chrono::steady_clock::now() + budget, parseMemoryBudget};
  icalparser* parser = icalparser_new();
  if (!parser) return std::nullopt;
  icalparser_set_gen_data(parser, &feed);
  icalcomponent* root = icalparser_parse(parser, nextLine);
  icalparser_free(parser);
  if (!root) return std::nullopt;
  if (feed.overBudget || icalcomponent_isa(root) != ICAL_VCALENDAR_COMPONENT) {
    icalcomponent_free(root);
    return std::nullopt;
  }
  CalendarFile file(root);
  file.priorities_ = restoreExactTexts(root, bytes);
  return file;
}

std::vector<EventOccurrence> CalendarFile::occurrences(Instant start, Instant end) const {
  OccurrenceList list = occurrenceList(start, end);
  std::vector<EventOccurrence> out;
  out.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) out.push_back(list[i]);
  return out;
}

OccurrenceList CalendarFile::occurrenceList(Instant start, Instant end) const {
  return expandEvents(root_.get(), start, end);
}

uint32_t OccurrenceList::addTexts(EventTexts texts) {
  texts_.push_back(std::move(texts));
  return static_cast<uint32_t>(texts_.size() - 1);
}

void OccurrenceList::reserve(size_t more) {
  if (entries_.capacity() - entries_.size() < more)
    entries_.reserve(std::max(entries_.size() + more, 2 * entries_.capacity()));
}

EventOccurrence OccurrenceList::operator[](size_t i) const {
  const Entry& e = entries_[i];
  const EventTexts& t = texts_[e.texts];
  return {t.title, t.location, t.notes, e.start, e.end, e.isAllDay};
}

EventSpan CalendarFile::eventSpan() const { return ical::eventSpan(root_.get()); }

bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b) {
  if (!a || !b) return !a && !b;
  return a->year == b->year && a->month == b->month && a->day == b->day && a->hour == b->hour &&
         a->minute == b->minute && a->second == b->second && a->timeZone == b->timeZone;
}

bool TodoItem::operator==(const TodoItem& o) const {
  return index == o.index && title == o.title && notes == o.notes && sameDue(due, o.due) &&
         isCompleted == o.isCompleted && isCancelled == o.isCancelled && priority == o.priority;
}

std::vector<TodoItem> CalendarFile::todos() const {
  std::vector<TodoItem> items;
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
      if (!icaltime_is_null_time(value)) item.due = dueComponentsOf(zonedTimeOf(due, value), root_.get());
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace tallowick::ical
