#include "tallowick/store/icalendar/event_listing.h"

#include <algorithm>
#include <tuple>

namespace tallowick::ical {

void CompactEventListing::addFile(Calendar calendar, OccurrenceList occurrences) {
  if (occurrences.size() > 0) files_.push_back({std::move(calendar), std::move(occurrences)});
}

void CompactEventListing::sort() {
  size_t total = 0;
  for (const File& f : files_) total += f.occurrences.size();
  order_.reserve(total);
  for (uint32_t f = 0; f < files_.size(); ++f) {
    const auto& entries = files_[f].occurrences.entries();
    for (uint32_t i = 0; i < entries.size(); ++i) order_.push_back({entries[i].start.time_since_epoch().count(), f, i});
  }
  // File and entry are the store's order, so they break ties.
  auto earlier = [](const Position& a, const Position& b) {
    return std::tie(a.start, a.file, a.entry) < std::tie(b.start, b.file, b.entry);
  };
  if (!std::is_sorted(order_.begin(), order_.end(), earlier)) std::sort(order_.begin(), order_.end(), earlier);
}

void CompactEventListing::get(size_t i, Event& into) const {
  const File& file = files_[order_[i].file];
  const OccurrenceList::Entry& e = file.occurrences.entries()[order_[i].entry];
  const EventTexts& texts = file.occurrences.texts()[e.texts];
  into.title = texts.title;
  into.startDate = e.start;
  into.endDate = e.end;
  into.isAllDay = e.isAllDay;
  into.location = texts.location;
  into.notes = texts.notes;
  into.calendar = file.calendar;
}

}  // namespace tallowick::ical
