#pragma once
// The occurrences of one file's events, as a listing holds them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"

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

}  // namespace tallowick::ical
