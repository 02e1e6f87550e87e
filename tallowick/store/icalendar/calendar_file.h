#pragma once
// One .ics file of a collection, parsed: its events and its todos. Parsing is
// per file so that a file that does not parse costs only itself.

#include <libical/ical.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {
struct EventSpan;
}

namespace tallowick::ical {

// One occurrence of an event, without its calendar.
struct EventOccurrence {
  std::optional<std::string> title;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  Instant start;
  Instant end;
  bool isAllDay = false;
};

// The texts an event's occurrences share.
struct EventTexts {
  std::optional<std::string> title;
  std::optional<std::string> location;
  std::optional<std::string> notes;
};

// A file's occurrences with each event's texts held once, not once per
// occurrence: a daily rule listed to 9999 has millions of occurrences.
class OccurrenceList {
 public:
  struct Entry {
    Instant start;
    Instant end;
    uint32_t texts;  // index into texts()
    bool isAllDay;
  };
  // The index that add() takes for these texts.
  uint32_t addTexts(EventTexts texts);
  void add(uint32_t texts, Instant start, Instant end, bool isAllDay) {
    entries_.push_back({start, end, texts, isAllDay});
  }
  void reserve(size_t more);
  size_t size() const { return entries_.size(); }
  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<EventTexts>& texts() const { return texts_; }
  EventOccurrence operator[](size_t i) const;

 private:
  std::vector<EventTexts> texts_;
  std::vector<Entry> entries_;
};

// One VTODO, without its list. `index` counts the file's VTODOs from 0 in
// file order; it finds the same todo again in the same bytes.
struct TodoItem {
  int index = 0;
  std::optional<std::string> title;
  std::optional<std::string> notes;
  std::optional<DateComponents> due;
  bool isCompleted = false;  // STATUS:COMPLETED or a COMPLETED property
  bool isCancelled = false;
  int64_t priority = 0;
  bool operator==(const TodoItem& other) const;
};

// Whether two due dates name the same fields (both absent counts as the same).
bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b);

class CalendarFile {
 public:
  // Parses the bytes of a file; nothing when they are not an iCalendar
  // object, or when parsing them takes more than a second or 512 MiB (a
  // malformed file can make libical's parser take minutes and gigabytes):
  // such a file is skipped like one that does not parse.
  static constexpr std::chrono::milliseconds parseTimeBudget{1000};
  static constexpr size_t parseMemoryBudget = size_t{512} << 20;
  static std::optional<CalendarFile> parse(std::string_view bytes);
  static std::optional<CalendarFile> parse(std::string_view bytes, std::chrono::milliseconds budget);

  // Occurrences of the file's events that overlap [start, end], recurring
  // events expanded, in the order found (not sorted).
  std::vector<EventOccurrence> occurrences(Instant start, Instant end) const;
  // The same, compactly.
  OccurrenceList occurrenceList(Instant start, Instant end) const;

  std::vector<TodoItem> todos() const;

  // The time the file's events cover (see event_expansion.h).
  EventSpan eventSpan() const;

 private:
  struct Free {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
  };
  explicit CalendarFile(icalcomponent* root) : root_(root) {}
  std::unique_ptr<icalcomponent, Free> root_;
  // Each VTODO's priority as its content line has it (see exact_text.h).
  std::optional<std::vector<std::optional<int64_t>>> priorities_;
};

}  // namespace tallowick::ical
