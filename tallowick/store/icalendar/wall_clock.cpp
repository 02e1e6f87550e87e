#include "tallowick/store/icalendar/wall_clock.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "tallowick/store/icalendar/content_lines.h"
#include "tallowick/store/icalendar/recurrence.h"
#include "tallowick/zones/zone_rules.h"

namespace tallowick::ical {
namespace {

// A VTIMEZONE rule that changes the offset more often than this in a year is
// not a time zone; it is left out, so that no block can make a conversion run
// away.
constexpr size_t maxOnsetsPerYear = 1000;
constexpr int64_t onsetStepsPerYear = 50'000;
// How far back a rule's last change is looked for before it counts as none.
constexpr int64_t maxYearsBack = 500;

int64_t yearOf(int64_t wall) { return civilFromDays(zones::floorDiv(wall, zones::daySeconds)).year; }

class UtcClock : public WallClock {
 public:
  int64_t toUtc(int64_t wall) const override { return wall; }
  int64_t toWall(int64_t utc) const override { return utc; }
};

class ZoneClock : public WallClock {
 public:
  explicit ZoneClock(const zones::ZoneRules& rules) : rules_(rules) {}
  int64_t toUtc(int64_t wall) const override { return rules_.utcOf(wall); }
  int64_t toWall(int64_t utc) const override { return utc + rules_.offsetAt(utc); }

 private:
  const zones::ZoneRules& rules_;
};

// A VTIMEZONE block of the file, worked out from its observances for the
// years asked for, each year once.
class BlockClock : public WallClock {
 public:
  explicit BlockClock(icalcomponent* vtimezone) {
    for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
      icalcomponent_kind kind = icalcomponent_isa(c);
      if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) continue;
      icalproperty* start = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
      icalproperty* from = icalcomponent_get_first_property(c, ICAL_TZOFFSETFROM_PROPERTY);
      icalproperty* to = icalcomponent_get_first_property(c, ICAL_TZOFFSETTO_PROPERTY);
      if (!start || !to) continue;
      std::optional<int64_t> wall = wallOf(icalproperty_get_dtstart(start));
      if (!wall) continue;
      Observance o;
      o.start = *wall;
      o.to = icalproperty_get_tzoffsetto(to);
      o.from = from ? icalproperty_get_tzoffsetfrom(from) : o.to;
      for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
           p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
        icaldatetimeperiodtype r = icalproperty_get_rdate(p);
        icaltimetype t = icaltime_is_null_time(r.time) ? r.period.start : r.time;
        if (std::optional<int64_t> w = wallOf(t)) o.rdates.push_back(icaltime_is_utc(t) ? *w + o.from : *w);
      }
      std::sort(o.rdates.begin(), o.rdates.end());
      for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
           p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) {
        icalrecurrencetype r = icalproperty_get_rrule(p);
        if (r.freq == ICAL_NO_RECURRENCE) continue;
        std::optional<int64_t> until;
        if (!icaltime_is_null_time(r.until))
          if (std::optional<int64_t> w = wallOf(r.until)) until = icaltime_is_utc(r.until) ? *w + o.from : *w;
        o.rules.push_back(ObservanceRule{ruleFromIcal(r, until), {}, false, latestWall});
        ObservanceRule& rule = o.rules.back();
        try {
          StepBudget budget(onsetStepsPerYear);
          if (std::optional<int64_t> last = lastStartOf(rule.rule, o.start, false, budget)) rule.last = *last;
        } catch (const BudgetExceeded&) {
        }
      }
      observances_.push_back(std::move(o));
    }
  }

  int64_t toUtc(int64_t wall) const override {
    return zones::utcOfWall(wall, [this](int64_t utc) { return offsetAt(utc); });
  }
  int64_t toWall(int64_t utc) const override { return utc + offsetAt(utc); }

 private:
  struct ObservanceRule {
    RecurrenceRule rule;
    std::map<int64_t, std::vector<int64_t>> onsetsByYear;
    bool broken = false;
    int64_t last = latestWall;
  };
  struct Observance {
    int64_t start = 0;  // wall-clock time of the old offset
    int32_t from = 0, to = 0;
    std::vector<int64_t> rdates;
    mutable std::vector<ObservanceRule> rules;
  };
  std::vector<Observance> observances_;

  const std::vector<int64_t>* onsetsIn(const Observance& o, ObservanceRule& rule, int64_t year) const {
    auto it = rule.onsetsByYear.find(year);
    if (it != rule.onsetsByYear.end()) return &it->second;
    std::vector<int64_t> onsets;
    try {
      StepBudget budget(onsetStepsPerYear);
      expandRule(rule.rule, o.start, false, wallSeconds(year, 1, 1, 0, 0, 0), wallSeconds(year, 12, 31, 23, 59, 59),
                 budget, [&](int64_t onset) {
                   if (onsets.size() >= maxOnsetsPerYear) throw BudgetExceeded();
                   onsets.push_back(onset);
                 });
    } catch (const BudgetExceeded&) {
      rule.broken = true;
      rule.onsetsByYear.clear();
      return nullptr;
    }
    return &rule.onsetsByYear.emplace(year, std::move(onsets)).first->second;
  }

  // The latest change to this observance at or before a wall-clock time.
  std::optional<int64_t> latestOnset(const Observance& o, int64_t wall) const {
    if (o.start > wall) return std::nullopt;
    int64_t best = o.start;
    auto r = std::upper_bound(o.rdates.begin(), o.rdates.end(), wall);
    if (r != o.rdates.begin()) best = std::max(best, *(r - 1));
    for (ObservanceRule& rule : o.rules) {
      int64_t limit = std::min(wall, rule.last);
      int64_t firstYear = yearOf(o.start);
      for (int64_t year = yearOf(limit); !rule.broken && year >= firstYear && year > yearOf(limit) - maxYearsBack;
           --year) {
        const std::vector<int64_t>* onsets = onsetsIn(o, rule, year);
        if (!onsets) break;
        auto it = std::upper_bound(onsets->begin(), onsets->end(), limit);
        if (it != onsets->begin()) {
          best = std::max(best, *(it - 1));
          break;
        }
        if (year <= yearOf(best)) break;  // nothing later than what is known
      }
    }
    return best;
  }

  int64_t offsetAt(int64_t utc) const {
    std::optional<int64_t> bestUtc;
    int64_t offset = 0;
    const Observance* earliest = nullptr;
    for (const Observance& o : observances_) {
      if (!earliest || o.start < earliest->start) earliest = &o;
      std::optional<int64_t> onset = latestOnset(o, utc + o.from);
      if (!onset) continue;
      int64_t onsetUtc = *onset - o.from;
      if (!bestUtc || onsetUtc > *bestUtc) {
        bestUtc = onsetUtc;
        offset = o.to;
      }
    }
    if (!bestUtc && earliest) return earliest->from;
    return offset;
  }
};

}  // namespace

std::optional<int64_t> wallOf(const icaltimetype& t) {
  if (icaltime_is_null_time(t) || t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1) return {};
  int64_t next = t.month == 12 ? daysFromCivil(t.year + 1, 1, 1) : daysFromCivil(t.year, t.month + 1, 1);
  int64_t monthLength = next - daysFromCivil(t.year, t.month, 1);
  if (t.day > monthLength) return {};
  if (t.is_date) return wallSeconds(t.year, t.month, t.day, 0, 0, 0);
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60) return {};
  return wallSeconds(t.year, t.month, t.day, t.hour, t.minute, std::min(t.second, 59));
}

RecurrenceRule ruleFromIcal(const icalrecurrencetype& r, std::optional<int64_t> until) {
  RecurrenceRule rule;
  rule.freq = static_cast<Frequency>(std::clamp(static_cast<int>(r.freq), 0, 6));
  rule.interval = std::max<int64_t>(1, r.interval);
  rule.count = std::max(0, r.count);
  rule.until = until;
  auto list = [](const short* values, size_t size, std::vector<int>& out) {
    for (size_t i = 0; i < size && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) out.push_back(values[i]);
  };
  list(r.by_second, ICAL_BY_SECOND_SIZE, rule.bySecond);
  list(r.by_minute, ICAL_BY_MINUTE_SIZE, rule.byMinute);
  list(r.by_hour, ICAL_BY_HOUR_SIZE, rule.byHour);
  list(r.by_month_day, ICAL_BY_MONTHDAY_SIZE, rule.byMonthDay);
  list(r.by_year_day, ICAL_BY_YEARDAY_SIZE, rule.byYearDay);
  list(r.by_week_no, ICAL_BY_WEEKNO_SIZE, rule.byWeekNo);
  list(r.by_set_pos, ICAL_BY_SETPOS_SIZE, rule.bySetPos);
  for (size_t i = 0; i < ICAL_BY_MONTH_SIZE && r.by_month[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
    rule.byMonth.push_back(icalrecurrencetype_month_month(r.by_month[i]));
  for (size_t i = 0; i < ICAL_BY_DAY_SIZE && r.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
    int weekday = static_cast<int>(icalrecurrencetype_day_day_of_week(r.by_day[i]));  // 1 = Sunday
    if (weekday < 1 || weekday > 7) continue;
    rule.byDay.push_back({icalrecurrencetype_day_position(r.by_day[i]), (weekday + 5) % 7});
  }
  if (r.week_start >= ICAL_SUNDAY_WEEKDAY && r.week_start <= ICAL_SATURDAY_WEEKDAY)
    rule.weekStart = (static_cast<int>(r.week_start) + 5) % 7;
  return rule;
}

const WallClock& FileClocks::utc() {
  static const UtcClock clock;
  return clock;
}

FileClocks::FileClocks(icalcomponent* calendar, const zones::ZoneSource& zones)
    : zones_(zones), local_(std::make_unique<ZoneClock>(zones.local())) {
  for (icalproperty* p = icalcomponent_get_first_property(calendar, ICAL_X_PROPERTY); p;
       p = icalcomponent_get_next_property(calendar, ICAL_X_PROPERTY)) {
    const char* name = icalproperty_get_x_name(p);
    if (!name || upperAscii(name) != "X-WR-TIMEZONE") continue;
    const char* value = icalproperty_get_x(p);
    floatingZone_ = systemZoneName(value ? value : "", zones, ZoneNaming::lenient);
    if (!floatingZone_.empty()) floating_ = std::make_unique<ZoneClock>(*zones.find(floatingZone_));
    break;
  }
  // An iterator of its own: the component's built-in one may be walking the
  // events that ask for these clocks.
  for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VTIMEZONE_COMPONENT);
       icalcomponent* z = icalcompiter_deref(&it); icalcompiter_next(&it)) {
    icalproperty* tzid = icalcomponent_get_first_property(z, ICAL_TZID_PROPERTY);
    if (const char* value = tzid ? icalproperty_get_tzid(tzid) : nullptr) blocks_.emplace(value, z);
  }
}

FileClocks::~FileClocks() = default;

std::string FileClocks::systemZoneOf(std::string_view tzid) const {
  std::string name = systemZoneName(tzid, zones_);
  if (name.empty() && !blocks_.contains(tzid)) name = systemZoneName(tzid, zones_, ZoneNaming::lenient);
  return name;
}

const WallClock& FileClocks::of(const ZonedTime& time) {
  if (time.wall.is_date) return local();
  if (time.tzid.empty()) return icaltime_is_utc(time.wall) ? utc() : floating_ ? *floating_ : local();
  auto it = clocks_.find(time.tzid);
  if (it != clocks_.end()) return it->second ? *it->second : local();
  std::unique_ptr<WallClock> clock;
  if (std::string name = systemZoneOf(time.tzid); !name.empty()) {
    clock = std::make_unique<ZoneClock>(*zones_.find(name));
  } else if (auto block = blocks_.find(time.tzid); block != blocks_.end()) {
    clock = std::make_unique<BlockClock>(block->second);
  }
  const WallClock* result = clock.get();
  clocks_.emplace(time.tzid, std::move(clock));
  return result ? *result : local();
}

DateComponents dueComponentsOf(const ZonedTime& time, FileClocks& clocks) {
  const icaltimetype& t = time.wall;
  DateComponents c;
  c.year = t.year;
  c.month = t.month;
  c.day = t.day;
  if (t.is_date) return c;
  c.hour = t.hour;
  c.minute = t.minute;
  c.second = t.second;
  if (icaltime_is_utc(t)) {
    c.timeZone = "UTC";
  } else if (time.tzid.empty()) {
    if (!clocks.floatingZone().empty()) c.timeZone = clocks.floatingZone();
  } else {
    if (std::string name = clocks.systemZoneOf(time.tzid); !name.empty()) {
      c.timeZone = name;
    } else if (std::optional<int64_t> wall = wallOf(t); wall && &clocks.of(time) != &clocks.local()) {
      zones::CivilTime u = zones::civilFromWall(clocks.of(time).toUtc(*wall));
      c = DateComponents{static_cast<int>(u.year), u.month, u.day, u.hour, u.minute, u.second, "UTC"};
    }
  }
  return c;
}

}  // namespace tallowick::ical
