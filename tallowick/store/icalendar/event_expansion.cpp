#include "tallowick/store/icalendar/event_expansion.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "tallowick/store/icalendar/component_text.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/recurrence.h"
#include "tallowick/store/icalendar/wall_clock.h"

namespace tallowick::ical {
namespace {

using zones::daySeconds;
// No time span reaches beyond 0001-9999, so a longer DURATION is cut to this
// and every sum below stays far from overflowing.
constexpr int64_t longestSpan = latestWall - earliestWall;
constexpr int64_t longestDays = longestSpan / daySeconds;

struct Window {
  int64_t start;  // UTC seconds
  int64_t end;
};

bool overlaps(int64_t start, int64_t end, const Window& window) {
  if (start > window.end) return false;
  return end > window.start || start >= window.start;
}

int64_t floorDay(int64_t wall) { return (wall >= 0 ? wall : wall - daySeconds + 1) / daySeconds; }

Instant instantOfSeconds(int64_t s) { return Instant(std::chrono::seconds(s)); }

// A start or end as written: its wall-clock seconds, the clock they are in,
// and the UTC seconds they stand for.
struct Time {
  int64_t wall = 0;
  bool date = false;
  const WallClock* clock = nullptr;
  int64_t utc = 0;
};

std::optional<Time> timeOf(FileClocks& clocks, icalproperty* property, const icaltimetype& t) {
  std::optional<int64_t> wall = wallOf(t);
  if (!wall) return std::nullopt;
  const WallClock& clock = clocks.of(zonedTimeOf(property, t));
  return Time{*wall, t.is_date != 0, &clock, clock.toUtc(*wall)};
}

std::optional<Time> timeProperty(FileClocks& clocks, icalcomponent* event, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(event, kind);
  if (!property) return std::nullopt;
  icalvalue* value = icalproperty_get_value(property);
  if (!value) return std::nullopt;
  return timeOf(clocks, property, icalvalue_get_datetime(value));
}

// How long each occurrence of an event lasts.
struct Shape {
  bool allDay = false;
  int64_t days = 1;          // all-day: days covered
  bool nominal = false;      // timed, by DURATION: days keep the wall-clock time
  int64_t nominalDays = 0;
  int64_t exactSeconds = 0;  // timed: DTEND - DTSTART, or the hours, minutes and seconds of DURATION
};

bool usable(const icaldurationtype& d) { return !icaldurationtype_is_bad_duration(d) && !d.is_neg; }

// A timed occurrence lasting a DURATION: its days are nominal, the rest exact.
Shape shapeOfDuration(const icaldurationtype& d) {
  Shape shape;
  shape.nominal = true;
  // The fields are unsigned ints: in 64 bits none of these can overflow.
  shape.nominalDays = std::min<int64_t>(int64_t{d.weeks} * 7 + d.days, longestDays);
  shape.exactSeconds = std::min<int64_t>(int64_t{d.hours} * 3600 + int64_t{d.minutes} * 60 + d.seconds, longestSpan);
  return shape;
}

Shape shapeOfSpan(const Time& start, const Time& end) {
  Shape shape;
  shape.exactSeconds = std::clamp<int64_t>(end.utc - start.utc, 0, longestSpan);
  return shape;
}

Shape shapeOf(FileClocks& clocks, icalcomponent* event, const Time& start) {
  std::optional<Time> end = timeProperty(clocks, event, ICAL_DTEND_PROPERTY);
  std::optional<icaldurationtype> duration;
  if (!end) {
    if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
      icaldurationtype d = icalproperty_get_duration(p);
      if (usable(d)) duration = d;
    }
  }
  if (start.date) {
    // DTEND of a date is exclusive; a date without end lasts its one day.
    Shape shape;
    shape.allDay = true;
    if (end) shape.days = floorDay(end->wall) - floorDay(start.wall);
    else if (duration) shape.days = shapeOfDuration(*duration).nominalDays;
    shape.days = std::clamp<int64_t>(shape.days, 1, longestDays);
    return shape;
  }
  if (end) return shapeOfSpan(start, *end);
  return duration ? shapeOfDuration(*duration) : Shape{};
}

// The longest an occurrence of this shape can last. Days may be an hour
// longer over a daylight-saving change: a day more covers that.
int64_t reachOf(const Shape& shape) {
  if (shape.allDay) return (shape.days + 1) * daySeconds;
  return (shape.nominalDays > 0 ? (shape.nominalDays + 1) * daySeconds : 0) + shape.exactSeconds;
}

// Bounds in a clock's wall-clock time for the instants [from, to]: the
// offsets around each end, so that a rule repeating every second makes no
// more than the window holds. Offset changes are days apart.
std::pair<int64_t, int64_t> wallBounds(const WallClock& clock, int64_t from, int64_t to) {
  int64_t low = from + std::min({clock.toWall(from) - from, clock.toWall(from + daySeconds) - from - daySeconds,
                                 clock.toWall(from + 2 * daySeconds) - from - 2 * daySeconds});
  int64_t high = to + std::max({clock.toWall(to) - to, clock.toWall(to - daySeconds) - to + daySeconds,
                                clock.toWall(to - 2 * daySeconds) - to + 2 * daySeconds});
  return {std::max(low, earliestWall), std::min(high, latestWall)};
}

struct Span {
  int64_t start;
  int64_t end;
};

// All-day occurrences run in `local` time, from midnight to the last second.
Span spanOf(int64_t wall, const WallClock& clock, const WallClock& local, const Shape& shape) {
  if (shape.allDay) {
    int64_t day = floorDay(wall) * daySeconds;
    int64_t last = std::min(day + (shape.days - 1) * daySeconds + daySeconds - 1, latestWall);
    return {local.toUtc(day), local.toUtc(last)};
  }
  int64_t begin = clock.toUtc(wall);
  if (!shape.nominal) return {begin, std::min(begin + shape.exactSeconds, latestWall)};
  // Days of a DURATION are nominal: they keep the wall-clock time across a
  // daylight-saving change; hours, minutes and seconds are exact.
  int64_t shifted = std::min(wall + shape.nominalDays * daySeconds, latestWall);
  return {begin, std::min(clock.toUtc(shifted) + shape.exactSeconds, latestWall)};
}

std::string uidOf(icalcomponent* event) {
  const char* uid = icalcomponent_get_uid(event);
  return uid ? uid : "";
}

// The texts of an event, read once: libical finds a property by walking all
// of them, and an event with 50,000 EXDATEs has that many.
EventTexts textsOf(icalcomponent* event) {
  return {textProperty(event, ICAL_SUMMARY_PROPERTY), textProperty(event, ICAL_LOCATION_PROPERTY),
          textProperty(event, ICAL_DESCRIPTION_PROPERTY)};
}

void addOccurrence(OccurrenceList& out, uint32_t texts, const Span& span, bool allDay) {
  out.add(texts, instantOfSeconds(span.start), instantOfSeconds(span.end), allDay);
}

bool isThisAndFuture(icalproperty* recurrenceId) {
  icalparameter* range = icalproperty_get_first_parameter(recurrenceId, ICAL_RANGE_PARAMETER);
  return range && icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
}

// Which of several copies of one event or one instance counts (a calendar
// that kept an older version, an export that holds an override twice): the
// highest SEQUENCE, then the latest DTSTAMP, then the last in the file, as
// calendar clients decide.
struct Rank {
  int64_t sequence = 0;
  int64_t stamp = INT64_MIN;
  size_t position = 0;
  auto operator<=>(const Rank&) const = default;
};

Rank rankOf(FileClocks& clocks, icalcomponent* event, size_t position) {
  Rank rank;
  rank.position = position;
  if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_SEQUENCE_PROPERTY))
    rank.sequence = icalproperty_get_sequence(p);
  if (std::optional<Time> stamp = timeProperty(clocks, event, ICAL_DTSTAMP_PROPERTY)) rank.stamp = stamp->utc;
  return rank;
}

// The instance of a series a RECURRENCE-ID names. An all-day series has one
// instance a day, named by its date wherever the viewer is: Outlook writes a
// date-time at midnight of its own zone, others one at midnight UTC, and the
// date as written is what both mean. Other series are matched by instant.
int64_t instanceKey(const Time& t, bool allDaySeries) { return allDaySeries ? floorDay(t.wall) * daySeconds : t.utc; }

// An override of an instance and, with RANGE=THISANDFUTURE, of every later
// one: those move as the instance moved and take its length and texts.
struct Override {
  icalcomponent* event = nullptr;
  EventTexts texts;
  Time recurrenceId;
  Time start;
  Shape shape;
  bool thisAndFuture = false;
  int64_t shift = 0;  // wall-clock seconds from RECURRENCE-ID to DTSTART
  int64_t key = 0;    // instanceKey of the RECURRENCE-ID
  Rank rank;
};

// Everything of one UID that is not its master.
struct Overrides {
  std::vector<int64_t> replaced;  // instanceKey of every RECURRENCE-ID, sorted
  std::vector<const Override*> ranges;  // THISANDFUTURE ones, by key
};

Override overrideOf(FileClocks& clocks, icalcomponent* event, const Time& recurrenceId, icalproperty* property) {
  Override o;
  o.event = event;
  o.texts = textsOf(event);
  o.recurrenceId = recurrenceId;
  o.start = timeProperty(clocks, event, ICAL_DTSTART_PROPERTY).value_or(recurrenceId);
  o.shape = shapeOf(clocks, event, o.start);
  o.thisAndFuture = isThisAndFuture(property);
  // In the wall-clock time of the series, so later instances keep their
  // time of day across a daylight-saving change; an all-day one moves by
  // whole days from the date its RECURRENCE-ID names.
  o.shift = o.start.date ? o.start.wall - floorDay(recurrenceId.wall) * daySeconds
                         : recurrenceId.clock->toWall(o.start.utc) - recurrenceId.wall;
  o.shift = std::clamp(o.shift, -longestSpan, longestSpan);
  return o;
}

// Each rule's UNTIL in the wall-clock time of DTSTART.
std::optional<int64_t> untilOf(const icaltimetype& until, const Time& dtstart) {
  if (icaltime_is_null_time(until)) return std::nullopt;
  std::optional<int64_t> wall = wallOf(until);
  if (!wall) return latestWall;
  if (until.is_date) return dtstart.date ? *wall : *wall + daySeconds - 1;
  if (icaltime_is_utc(until) && !dtstart.date) return dtstart.clock->toWall(*wall);
  return *wall;
}

std::vector<RecurrenceRule> rulesOf(const EventRules& rules, icalcomponent* event, const Time& dtstart) {
  std::vector<RecurrenceRule> out;
  for (RuleReading& reading : rules.of(event)) {
    reading.rule.until = untilOf(reading.until, dtstart);
    out.push_back(std::move(reading.rule));
  }
  return out;
}

// An event's RDATEs. A PERIOD gives its instance a length of its own, except
// in an all-day series, whose instances are whole days.
struct Rdates {
  std::vector<Time> starts;
  std::vector<std::pair<size_t, Shape>> periods;  // by index into starts, in file order
};

Rdates rdatesOf(FileClocks& clocks, icalcomponent* event, const Shape& series) {
  Rdates rdates;
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
    icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
    bool period = icaltime_is_null_time(rdate.time);
    std::optional<Time> start = timeOf(clocks, p, period ? rdate.period.start : rdate.time);
    if (!start) continue;
    rdates.starts.push_back(*start);
    if (!period || series.allDay) continue;
    if (std::optional<Time> end = timeOf(clocks, p, rdate.period.end))
      rdates.periods.emplace_back(rdates.starts.size() - 1, shapeOfSpan(*start, *end));
    else if (usable(rdate.period.duration))
      rdates.periods.emplace_back(rdates.starts.size() - 1, shapeOfDuration(rdate.period.duration));
  }
  return rdates;
}

class Expander {
 public:
  Expander(icalcomponent* calendar, const EventRules& rules, const zones::ZoneSource& zones, StepBudget& budget)
      : clocks_(calendar, zones), rules_(rules), budget_(budget) {
    struct Master {
      icalcomponent* event;
      std::string uid;
      Rank rank;
    };
    std::vector<Master> masters;
    std::vector<std::pair<std::string, Override>> overrides;
    size_t position = 0;
    for (icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); event;
         event = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT), ++position) {
      icalproperty* rid = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
      std::optional<Time> recurrenceId = rid ? timeProperty(clocks_, event, ICAL_RECURRENCEID_PROPERTY) : std::nullopt;
      if (recurrenceId) {
        overrides.emplace_back(uidOf(event), overrideOf(clocks_, event, *recurrenceId, rid));
        overrides.back().second.rank = rankOf(clocks_, event, position);
      } else {
        masters.push_back({event, uidOf(event), rankOf(clocks_, event, position)});
      }
    }
    // Of the copies of one UID's master, and of one instance's override, one
    // counts; without a UID nothing is a copy of anything.
    std::map<std::string, const Master*> bestMaster;
    for (const Master& m : masters) {
      if (m.uid.empty()) continue;
      auto [it, added] = bestMaster.emplace(m.uid, &m);
      if (!added && it->second->rank < m.rank) it->second = &m;
    }
    std::set<std::string> allDaySeries;
    for (const Master& m : masters) {
      if (!m.uid.empty() && bestMaster[m.uid] != &m) continue;
      masters_.push_back(m.event);
      std::optional<Time> dtstart = timeProperty(clocks_, m.event, ICAL_DTSTART_PROPERTY);
      if (dtstart && dtstart->date && !m.uid.empty()) allDaySeries.insert(m.uid);
    }
    std::map<std::pair<std::string, int64_t>, size_t> bestOverride;
    for (size_t i = 0; i < overrides.size(); ++i) {
      auto& [uid, o] = overrides[i];
      o.key = instanceKey(o.recurrenceId, allDaySeries.count(uid) > 0);
      if (uid.empty()) continue;
      auto [it, added] = bestOverride.emplace(std::pair(uid, o.key), i);
      if (!added && overrides[it->second].second.rank < o.rank) it->second = i;
    }
    for (size_t i = 0; i < overrides.size(); ++i) {
      auto& [uid, o] = overrides[i];
      if (uid.empty() || bestOverride[{uid, o.key}] == i) overrides_.push_back(std::move(o));
    }
    for (const Override& o : overrides_) {
      Overrides& of = byUid_[uidOf(o.event)];
      of.replaced.push_back(o.key);
      if (o.thisAndFuture) of.ranges.push_back(&o);
    }
    for (auto& [uid, of] : byUid_) {
      std::sort(of.replaced.begin(), of.replaced.end());
      std::sort(of.ranges.begin(), of.ranges.end(), [](const Override* a, const Override* b) { return a->key < b->key; });
    }
  }

  void expand(const Window& window, OccurrenceList& out) {
    for (const Override& o : overrides_) {
      Span span = spanOf(o.start.wall, *o.start.clock, clocks_.local(), o.shape);
      if (overlaps(span.start, span.end, window)) addOccurrence(out, out.addTexts(o.texts), span, o.shape.allDay);
    }
    for (icalcomponent* master : masters_) expandMaster(master, window, out);
  }

  EventSpan span() {
    EventSpan result;
    auto include = [&](const Span& s) {
      result.first = result.any ? std::min(result.first, instantOfSeconds(s.start)) : instantOfSeconds(s.start);
      result.last = result.any ? std::max(result.last, instantOfSeconds(s.end)) : instantOfSeconds(s.end);
      result.any = true;
    };
    int64_t laterShift = 0;
    for (const Override& o : overrides_) {
      include(spanOf(o.start.wall, *o.start.clock, clocks_.local(), o.shape));
      if (o.thisAndFuture) laterShift = std::max(laterShift, std::max<int64_t>(o.shift, 0) + reachOf(o.shape));
    }
    for (icalcomponent* master : masters_) {
      std::optional<Time> dtstart = timeProperty(clocks_, master, ICAL_DTSTART_PROPERTY);
      if (!dtstart) continue;
      Shape shape = shapeOf(clocks_, master, *dtstart);
      include(spanOf(dtstart->wall, *dtstart->clock, clocks_.local(), shape));
      Rdates rdates = rdatesOf(clocks_, master, shape);
      for (const Time& r : rdates.starts) include(spanOf(r.wall, *r.clock, clocks_.local(), shape));
      for (const auto& [index, own] : rdates.periods) {
        const Time& r = rdates.starts[index];
        include(spanOf(r.wall, *r.clock, clocks_.local(), own));
      }
      for (const RecurrenceRule& rule : rulesOf(rules_, master, *dtstart)) {
        std::optional<int64_t> last = lastStartOf(rule, dtstart->wall, dtstart->date, budget_);
        if (!last) result.unbounded = true;
        else include(spanOf(*last, *dtstart->clock, clocks_.local(), shape));
      }
    }
    if (result.any && !result.unbounded && laterShift > 0)
      result.last = std::min(result.last + std::chrono::seconds(laterShift), instantOfSeconds(latestWall));
    return result;
  }

 private:
  FileClocks clocks_;
  const EventRules& rules_;
  StepBudget& budget_;
  std::vector<icalcomponent*> masters_;
  std::vector<Override> overrides_;
  std::map<std::string, Overrides> byUid_;

  void expandMaster(icalcomponent* event, const Window& window, OccurrenceList& out) {
    std::optional<Time> dtstart = timeProperty(clocks_, event, ICAL_DTSTART_PROPERTY);
    if (!dtstart) return;
    const WallClock& clock = *dtstart->clock;
    Shape shape = shapeOf(clocks_, event, *dtstart);
    static const Overrides none;
    auto found = byUid_.find(uidOf(event));
    const Overrides& overrides = found == byUid_.end() ? none : found->second;

    // Which original starts can give an occurrence in the window, once moved
    // and lengthened by the overrides of a range or by a period of its own.
    Rdates rdates = rdatesOf(clocks_, event, shape);
    int64_t reach = reachOf(shape), shiftLow = 0, shiftHigh = 0;
    for (const auto& [index, own] : rdates.periods) reach = std::max(reach, reachOf(own));
    for (const Override* o : overrides.ranges) {
      reach = std::max(reach, reachOf(o->shape));
      shiftLow = std::min(shiftLow, o->shift);
      shiftHigh = std::max(shiftHigh, o->shift);
    }
    // A shift in wall-clock time may differ from the same in seconds by an
    // offset change.
    int64_t shiftSlack = overrides.ranges.empty() ? 0 : daySeconds;
    int64_t from = std::max(window.start, earliestWall - daySeconds) - reach - shiftHigh - shiftSlack;
    int64_t to = std::min(window.end, latestWall + daySeconds) - shiftLow + shiftSlack;
    auto [wallFrom, wallTo] = wallBounds(clock, from, to);

    struct Start {
      int64_t utc;
      int64_t wall;
    };
    std::vector<Start> starts;
    if (dtstart->utc >= from && dtstart->utc <= to) starts.push_back({dtstart->utc, dtstart->wall});
    for (const RecurrenceRule& rule : rulesOf(rules_, event, *dtstart)) {
      expandRule(rule, dtstart->wall, dtstart->date, wallFrom, wallTo, budget_, [&](int64_t wall) {
        if (dtstart->date) wall = floorDay(wall) * daySeconds;
        starts.push_back({clock.toUtc(wall), wall});
      });
    }
    for (const Time& r : rdates.starts) {
      if (r.utc < from || r.utc > to) continue;
      starts.push_back({r.utc, r.date && dtstart->date ? r.wall : clock.toWall(r.utc)});
    }
    // The periods' own lengths by start: where an instance of the rule or
    // two periods start together, the first period in the file wins. Kept
    // apart from the starts, which may be millions.
    std::vector<std::pair<int64_t, const Shape*>> periodAt;
    for (const auto& [index, own] : rdates.periods)
      if (int64_t utc = rdates.starts[index].utc; utc >= from && utc <= to) periodAt.emplace_back(utc, &own);
    std::stable_sort(periodAt.begin(), periodAt.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // An RDATE may repeat an occurrence the rule already gave.
    std::sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.utc < b.utc; });
    starts.erase(std::unique(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.utc == b.utc; }),
                 starts.end());
    if (starts.empty()) return;

    std::vector<int64_t> excludedUtc;
    std::vector<int64_t> excludedDays;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
      // Not icalproperty_get_exdate: it resolves the TZID itself, outside the
      // zone lock (see libical_threads.h); timeOf reads the TZID.
      icalvalue* value = icalproperty_get_value(p);
      if (!value) continue;
      icaltimetype t = icalvalue_get_datetimedate(value);
      std::optional<Time> time = timeOf(clocks_, p, t);
      if (!time) continue;
      // An all-day series loses the instance of the date written, as with
      // its overrides.
      if (time->date || dtstart->date) excludedDays.push_back(floorDay(time->wall));
      else excludedUtc.push_back(time->utc);
    }
    std::sort(excludedUtc.begin(), excludedUtc.end());
    std::sort(excludedDays.begin(), excludedDays.end());
    out.reserve(starts.size());

    // Each source of texts is added to the list once, on first use.
    std::optional<uint32_t> texts;
    std::map<const Override*, uint32_t> rangeTexts;
    for (const Start& s : starts) {
      budget_.spend();
      int64_t key = dtstart->date ? floorDay(s.wall) * daySeconds : s.utc;
      if (std::binary_search(overrides.replaced.begin(), overrides.replaced.end(), key) ||
          std::binary_search(excludedUtc.begin(), excludedUtc.end(), s.utc) ||
          std::binary_search(excludedDays.begin(), excludedDays.end(), floorDay(s.wall)))
        continue;
      // The latest range override before this instance, if any, governs it.
      auto later = std::lower_bound(overrides.ranges.begin(), overrides.ranges.end(), key,
                                    [](const Override* o, int64_t k) { return o->key < k; });
      if (later != overrides.ranges.begin()) {
        const Override& o = **(later - 1);
        Span span = spanOf(std::clamp(s.wall + o.shift, earliestWall, latestWall), clock, clocks_.local(), o.shape);
        if (!overlaps(span.start, span.end, window)) continue;
        auto known = rangeTexts.find(&o);
        if (known == rangeTexts.end()) known = rangeTexts.emplace(&o, out.addTexts(o.texts)).first;
        addOccurrence(out, known->second, span, o.shape.allDay);
        continue;
      }
      const Shape* own = &shape;
      if (!periodAt.empty()) {
        auto period = std::lower_bound(periodAt.begin(), periodAt.end(), s.utc,
                                       [](const auto& p, int64_t utc) { return p.first < utc; });
        if (period != periodAt.end() && period->first == s.utc) own = period->second;
      }
      Span span = spanOf(s.wall, clock, clocks_.local(), *own);
      if (!overlaps(span.start, span.end, window)) continue;
      if (!texts) texts = out.addTexts(textsOf(event));
      addOccurrence(out, *texts, span, own->allDay);
    }
  }
};

}  // namespace

OccurrenceList expandEvents(icalcomponent* calendar, const EventRules& rules, const zones::ZoneSource& zones,
                            Instant start, Instant end, int64_t steps) {
  Window window{std::chrono::floor<std::chrono::seconds>(start).time_since_epoch().count(),
                std::chrono::floor<std::chrono::seconds>(end).time_since_epoch().count()};
  OccurrenceList out;
  StepBudget budget(steps);
  try {
    Expander(calendar, rules, zones, budget).expand(window, out);
  } catch (const BudgetExceeded&) {
    // Skipped like a file that does not parse, rather than listed in part.
    return {};
  }
  return out;
}

EventSpan eventSpan(icalcomponent* calendar, const EventRules& rules, const zones::ZoneSource& zones, int64_t steps) {
  StepBudget budget(steps);
  Expander expander(calendar, rules, zones, budget);
  try {
    return expander.span();
  } catch (const BudgetExceeded&) {
    EventSpan span;
    span.overBudget = true;
    return span;
  }
}

}  // namespace tallowick::ical
