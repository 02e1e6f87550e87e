#pragma once
// The events of a listing, held compactly while they are sorted and written:
// each file's occurrences with each event's texts once, and one index by
// start over all of them. An Event is a few hundred bytes, an entry of the
// index sixteen, and a daily rule listed to 9999 has millions.

#include <cstdint>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/occurrence_list.h"

namespace tallowick::ical {

class CompactEventListing : public EventListing {
 public:
  // Files in the store's order; each file's occurrences in any order.
  void addFile(Calendar calendar, OccurrenceList occurrences);

  // Orders the events by start, stably: events that start together keep the
  // store's order. Call once, after the last addFile.
  void sort();

  size_t size() const override { return order_.size(); }
  void get(size_t i, Event& into) const override;

 private:
  struct File {
    Calendar calendar;
    OccurrenceList occurrences;
  };
  struct Position {
    Instant::rep start;
    uint32_t file;
    uint32_t entry;
  };

  std::vector<File> files_;
  std::vector<Position> order_;
};

}  // namespace tallowick::ical
