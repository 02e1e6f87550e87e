#include "tallowick/store/ical/event_expansion.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "tallowick/store/ical/component_text.h"
#include "tallowick/store/ical/ical_time.h"

namespace tallowick::ical {
namespace {

// A safety net against rules that would run for millions of steps (a
// MINUTELY rule started years ago).
constexpr int maxRecurrenceSteps = 2'000'000;

struct Window {
  Instant start;
  Instant end;
};

bool overlaps(Instant start, Instant end, const Window& window) {
  if (start > window.end) return false;
  return end > window.start || start >= window.start;
}

// How long each occurrence of an event lasts.
struct Shape {
  bool allDay = false;
  int days = 1;                                    // all-day: days covered
  std::optional<icaldurationtype> duration;        // timed: DURATION
  std::chrono::seconds length{0};                  // timed: DTEND - DTSTART
};

std::optional<ZonedTime> timeProperty(icalcomponent* event, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(event, kind);
  if (!property) return std::nullopt;
  icalvalue* value = icalproperty_get_value(property);
  if (!value) return std::nullopt;
  icaltimetype t = icalvalue_get_datetime(value);
  if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t)) return std::nullopt;
  return zonedTimeOf(property, t);
}

int daysBetween(const icaltimetype& from, const icaltimetype& to) {
  auto dayNumber = [](const icaltimetype& t) {
    return std::chrono::sys_days(std::chrono::year(t.year) / t.month / t.day).time_since_epoch().count();
  };
  return static_cast<int>(dayNumber(to) - dayNumber(from));
}

Shape shapeOf(icalcomponent* event, const ZonedTime& start, icalcomponent* calendar) {
  Shape shape;
  shape.allDay = start.wall.is_date;
  std::optional<ZonedTime> end = timeProperty(event, ICAL_DTEND_PROPERTY);
  std::optional<icaldurationtype> duration;
  if (!end) {
    if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
      icaldurationtype d = icalproperty_get_duration(p);
      if (!icaldurationtype_is_bad_duration(d) && !d.is_neg) duration = d;
    }
  }
  if (shape.allDay) {
    // DTEND of a date is exclusive; a date without end lasts its one day.
    if (end) shape.days = daysBetween(start.wall, end->wall);
    else if (duration) shape.days = static_cast<int>(duration->weeks * 7 + duration->days);
    if (shape.days < 1) shape.days = 1;
    return shape;
  }
  if (end) {
    auto length = std::chrono::duration_cast<std::chrono::seconds>(instantOf(*end, calendar) - instantOf(start, calendar));
    shape.length = length.count() > 0 ? length : std::chrono::seconds(0);
  } else {
    shape.duration = duration;
  }
  return shape;
}

struct Span {
  Instant start;
  Instant end;
};

Span spanOf(const ZonedTime& start, const Shape& shape, icalcomponent* calendar) {
  if (shape.allDay) {
    icaltimetype last = start.wall;
    icaltime_adjust(&last, shape.days - 1, 0, 0, 0);
    return {localInstant(start.wall.year, start.wall.month, start.wall.day, 0, 0, 0),
            localInstant(last.year, last.month, last.day, 23, 59, 59)};
  }
  Instant begin = instantOf(start, calendar);
  if (!shape.duration) return {begin, begin + shape.length};
  // Days of a DURATION are nominal: they keep the wall-clock time across a
  // daylight-saving change; hours, minutes and seconds are exact.
  const icaldurationtype& d = *shape.duration;
  ZonedTime dayShifted = start;
  icaltime_adjust(&dayShifted.wall, static_cast<int>(d.weeks * 7 + d.days), 0, 0, 0);
  Instant end = instantOf(dayShifted, calendar) + std::chrono::seconds(d.hours * 3600 + d.minutes * 60 + d.seconds);
  return {begin, end};
}

// Occurrences taken out of a master's set: EXDATEs and the originals that
// overrides replace.
class Exclusions {
 public:
  void add(const ZonedTime& time, icalcomponent* calendar) {
    if (time.wall.is_date) dates_.push_back(time.wall);
    else instants_.push_back(instantOf(time, calendar));
  }
  bool contains(const ZonedTime& occurrence, Instant instant) const {
    for (const Instant& i : instants_)
      if (i == instant) return true;
    for (const icaltimetype& d : dates_)
      if (d.year == occurrence.wall.year && d.month == occurrence.wall.month && d.day == occurrence.wall.day) return true;
    return false;
  }

 private:
  std::vector<Instant> instants_;
  std::vector<icaltimetype> dates_;
};

std::string uidOf(icalcomponent* event) {
  const char* uid = icalcomponent_get_uid(event);
  return uid ? uid : "";
}

EventOccurrence occurrenceOf(icalcomponent* event, const Span& span, bool allDay) {
  EventOccurrence o;
  o.title = textProperty(event, ICAL_SUMMARY_PROPERTY);
  o.location = textProperty(event, ICAL_LOCATION_PROPERTY);
  o.notes = textProperty(event, ICAL_DESCRIPTION_PROPERTY);
  o.start = span.start;
  o.end = span.end;
  o.isAllDay = allDay;
  return o;
}

// The starts of a master's occurrences up to the window's end, in wall-clock
// time of DTSTART's zone, DTSTART first.
// The longest an occurrence of this shape can last, with two days to spare
// for the distance between any zone and UTC.
std::chrono::seconds reachOf(const Shape& shape) {
  using std::chrono::seconds;
  constexpr long day = 86400;
  if (shape.allDay) return seconds(shape.days * day + 2 * day);
  if (shape.duration) {
    const icaldurationtype& d = *shape.duration;
    return seconds((d.weeks * 7 + d.days + 2) * day + d.hours * 3600 + d.minutes * 60 + d.seconds);
  }
  return shape.length + seconds(2 * day);
}

// Moves a rule without COUNT close to the window, so that a daily event
// begun years ago does not walk through every day since. Occurrences that
// start before the new start end before the window.
void skipAhead(icalrecur_iterator* it, const icaltimetype& first, const Window& window, std::chrono::seconds reach) {
  time_t target = toTimeT(window.start - reach);
  std::tm utc{};
  if (!gmtime_r(&target, &utc)) return;
  icaltimetype from = first;
  from.year = utc.tm_year + 1900;
  from.month = utc.tm_mon + 1;
  from.day = utc.tm_mday;
  if (!first.is_date) {
    from.hour = 0;
    from.minute = 0;
    from.second = 0;
  }
  if (icaltime_compare(from, first) > 0) icalrecur_iterator_set_start(it, from);
}

std::vector<ZonedTime> startsOf(icalcomponent* event, const ZonedTime& dtstart, const Shape& shape,
                                const Window& window, icalcomponent* calendar) {
  std::vector<ZonedTime> starts{dtstart};
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(p);
    if (rule.freq == ICAL_NO_RECURRENCE) continue;
    icaltimetype first = dtstart.wall;
    first.zone = nullptr;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, first);
    if (!it) continue;
    // libical keeps the INTERVAL of daily and longer rules when it jumps, not
    // of hourly and shorter ones: those walk.
    if (rule.count == 0 && rule.freq >= ICAL_DAILY_RECURRENCE) skipAhead(it, first, window, reachOf(shape));
    for (int step = 0; step < maxRecurrenceSteps; ++step) {
      icaltimetype next = icalrecur_iterator_next(it);
      if (icaltime_is_null_time(next)) break;
      ZonedTime occurrence{next, dtstart.tzid};
      occurrence.wall.zone = dtstart.wall.zone;  // keeps UTC for a Z start
      if (instantOf(occurrence, calendar) > window.end) break;
      if (icaltime_compare(next, first) == 0) continue;
      starts.push_back(occurrence);
    }
    icalrecur_iterator_free(it);
  }
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
    icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
    icaltimetype t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
    if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t)) continue;
    starts.push_back(zonedTimeOf(p, t));
  }
  return starts;
}

void expandMaster(icalcomponent* event, const Exclusions& overridden, const Window& window, icalcomponent* calendar,
                  std::vector<EventOccurrence>& out) {
  std::optional<ZonedTime> dtstart = timeProperty(event, ICAL_DTSTART_PROPERTY);
  if (!dtstart) return;
  Shape shape = shapeOf(event, *dtstart, calendar);
  Exclusions excluded = overridden;
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
    // Not icalproperty_get_exdate: it resolves the TZID itself, outside the
    // zone lock (see libical_threads.h); zonedTimeOf reads the TZID.
    icalvalue* value = icalproperty_get_value(p);
    if (!value) continue;
    icaltimetype t = icalvalue_get_datetimedate(value);
    if (!icaltime_is_null_time(t)) excluded.add(zonedTimeOf(p, t), calendar);
  }
  std::vector<Instant> seen;
  for (const ZonedTime& start : startsOf(event, *dtstart, shape, window, calendar)) {
    Span span = spanOf(start, shape, calendar);
    if (excluded.contains(start, span.start)) continue;
    // An RDATE may repeat an occurrence the rule already gave.
    bool duplicate = false;
    for (const Instant& s : seen) duplicate = duplicate || s == span.start;
    if (duplicate) continue;
    seen.push_back(span.start);
    if (overlaps(span.start, span.end, window)) out.push_back(occurrenceOf(event, span, shape.allDay));
  }
}

void addOverride(icalcomponent* event, const ZonedTime& recurrenceId, const Window& window, icalcomponent* calendar,
                 std::vector<EventOccurrence>& out) {
  ZonedTime start = timeProperty(event, ICAL_DTSTART_PROPERTY).value_or(recurrenceId);
  Shape shape = shapeOf(event, start, calendar);
  Span span = spanOf(start, shape, calendar);
  if (overlaps(span.start, span.end, window)) out.push_back(occurrenceOf(event, span, shape.allDay));
}

}  // namespace

std::vector<EventOccurrence> expandEvents(icalcomponent* calendar, Instant start, Instant end) {
  Window window{start, end};
  std::vector<EventOccurrence> out;
  std::map<std::string, Exclusions> overriddenByUid;
  std::vector<icalcomponent*> masters;
  for (icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); event;
       event = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
    if (std::optional<ZonedTime> recurrenceId = timeProperty(event, ICAL_RECURRENCEID_PROPERTY)) {
      // RANGE=THISANDFUTURE is taken like a single override.
      overriddenByUid[uidOf(event)].add(*recurrenceId, calendar);
      addOverride(event, *recurrenceId, window, calendar, out);
    } else {
      masters.push_back(event);
    }
  }
  for (icalcomponent* master : masters) {
    auto it = overriddenByUid.find(uidOf(master));
    expandMaster(master, it == overriddenByUid.end() ? Exclusions{} : it->second, window, calendar, out);
  }
  return out;
}

EventSpan eventSpan(icalcomponent* calendar) {
  EventSpan span;
  for (icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); event;
       event = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
    std::optional<ZonedTime> start = timeProperty(event, ICAL_DTSTART_PROPERTY);
    if (!start) start = timeProperty(event, ICAL_RECURRENCEID_PROPERTY);
    if (!start) continue;
    Instant begin = instantOf(*start, calendar);
    span.first = span.any ? std::min(span.first, begin) : begin;
    span.any = true;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
      icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
      icaltimetype t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
      if (!icaltime_is_null_time(t) && icaltime_is_valid_time(t)) span.first = std::min(span.first, instantOf(zonedTimeOf(p, t), calendar));
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
      icalrecurrencetype rule = icalproperty_get_rrule(p);
      if (rule.freq != ICAL_NO_RECURRENCE && rule.count == 0 && icaltime_is_null_time(rule.until)) span.unbounded = true;
    }
  }
  if (!span.any || span.unbounded) return span;
  // Every rule ends: the occurrences themselves give the last end.
  const Instant from = instantFromTimeT(-2208988800);  // 1900-01-01
  const Instant to = instantFromTimeT(7258118400);     // 2200-01-01
  span.last = span.first;
  for (const EventOccurrence& o : expandEvents(calendar, from, to))
  {
    span.first = std::min(span.first, o.start);
    span.last = std::max(span.last, o.end);
  }
  return span;
}

}  // namespace tallowick::ical
