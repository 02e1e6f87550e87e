#include "tallowick/store/icalendar/occurrence_list.h"

#include <algorithm>

namespace tallowick::ical {

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

}  // namespace tallowick::ical
