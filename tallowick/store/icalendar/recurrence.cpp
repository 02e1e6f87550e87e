#include "tallowick/store/icalendar/recurrence.h"

#include <algorithm>
#include <array>

namespace tallowick::ical {
namespace {

using zones::daySeconds;

using zones::floorDiv;
using zones::floorMod;
using zones::isLeapYear;
using zones::monthLength;
using zones::weekdayOf;

int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

// No rule has more starts, or a longer step in any unit, than 0001-9999 has
// seconds: larger intervals and counts mean the same, and this keeps every
// product below far from overflowing.
constexpr int64_t widest = latestWall - earliestWall + 1;

std::vector<int> cleaned(std::vector<int> values, int low, int high, bool allowNegative) {
  std::vector<int> out;
  for (int v : values)
    if ((v >= low && v <= high) || (allowNegative && v <= -low && v >= -high && v != 0)) out.push_back(v);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

class Expansion {
 public:
  Expansion(const RecurrenceRule& rule, int64_t dtstart, bool dateOnly, StepBudget& budget)
      : rule_(rule), dtstart_(dtstart), dateOnly_(dateOnly), budget_(budget) {
    interval_ = std::clamp<int64_t>(rule.interval, 1, widest);
    count_ = std::clamp<int64_t>(rule.count, 0, widest);
    startDay_ = floorDiv(dtstart, daySeconds);
    start_ = civilFromDays(startDay_);
    int64_t secondOfDay = dtstart - startDay_ * daySeconds;
    hour0_ = static_cast<int>(secondOfDay / 3600);
    minute0_ = static_cast<int>(secondOfDay / 60 % 60);
    second0_ = static_cast<int>(secondOfDay % 60);
    normalize();
  }

  // Offers every start of the periods that may hold [from, to].
  void run(int64_t from, int64_t to, const std::function<void(int64_t)>& emit) {
    if (never_) return;
    from_ = from;
    stopAt_ = std::min(to, latestWall);
    if (rule_.until) stopAt_ = std::min(stopAt_, *rule_.until);
    if (stopAt_ <= dtstart_) return;
    emit_ = &emit;
    int64_t k = 0;
    if (count_ == 0 || uniform()) {
      k = std::max<int64_t>(0, periodIndexOf(std::max(from, dtstart_)));
      if (count_ > 0 && k > 0) {
        int64_t first = countInPeriod(0), each = countInPeriod(1);
        // Saturating: a count past COUNT only needs to say so.
        int64_t before = 1 + first + std::min<int64_t>(k - 1, (count_ + 1) / std::max<int64_t>(each, 1) + 1) * each;
        if (before >= count_) return;
        counted_ = before;
      }
    }
    std::vector<int64_t> set;
    while (!done_) {
      budget_.spend();
      if (periodStart(k) > stopAt_) break;
      int64_t next = k + 1;
      if (isSubDaily() && !subDailyPasses(k, next)) {
        k = next;
        continue;
      }
      if (rule_.bySetPos.empty() && !isSubDaily()) {
        streamPeriod(k);
      } else {
        collect(k, set);
        for (int64_t c : set)
          if (!done_) offer(c);
      }
      k = next;
    }
  }


  // The index of the period to go to so that the `n`-th occurrence (1 is
  // DTSTART) is in it or after it, when the rule is uniform.
  std::optional<int64_t> periodOfOccurrence(int64_t n) {
    if (!uniform() || never_) return std::nullopt;
    int64_t first = countInPeriod(0), each = countInPeriod(1);
    int64_t rest = n - 1 - first;
    if (rest <= 0 || each == 0) return 0;
    return 1 + (rest - 1) / each;
  }

  int64_t periodStartOf(int64_t k) const { return periodStart(k); }

 private:
  const RecurrenceRule& rule_;
  int64_t dtstart_;
  bool dateOnly_;
  StepBudget& budget_;
  int64_t interval_ = 1;
  int64_t count_ = 0;
  int64_t startDay_ = 0;
  CivilDate start_{};
  int hour0_ = 0, minute0_ = 0, second0_ = 0;

  std::vector<int> seconds_, minutes_, hours_, monthDays_, yearDays_, weekNos_, setPos_;
  std::array<bool, 13> months_{};
  bool anyMonth_ = false;
  std::vector<WeekdayNum> days_;
  std::vector<int> times_;  // seconds of the day, for DAILY and longer
  bool never_ = false;

  int64_t from_ = 0;
  int64_t stopAt_ = 0;
  int64_t counted_ = 1;  // DTSTART is the first
  bool done_ = false;
  const std::function<void(int64_t)>* emit_ = nullptr;

  bool isSubDaily() const { return rule_.freq < Frequency::daily; }

  void normalize() {
    auto keep = [&](const std::vector<int>& given, int low, int high, bool negative) {
      std::vector<int> out = cleaned(given, low, high, negative);
      if (!given.empty() && out.empty()) never_ = true;  // only impossible values: nothing matches
      return out;
    };
    seconds_ = keep(rule_.bySecond, 0, 59, false);
    minutes_ = keep(rule_.byMinute, 0, 59, false);
    hours_ = keep(rule_.byHour, 0, 23, false);
    monthDays_ = keep(rule_.byMonthDay, 1, 31, true);
    yearDays_ = keep(rule_.byYearDay, 1, 366, true);
    weekNos_ = rule_.freq == Frequency::yearly ? keep(rule_.byWeekNo, 1, 53, true) : std::vector<int>{};
    setPos_ = keep(rule_.bySetPos, 1, 366, true);
    for (int m : keep(rule_.byMonth, 1, 12, false)) months_[m] = anyMonth_ = true;
    for (WeekdayNum d : rule_.byDay) {
      if (d.weekday < 0 || d.weekday > 6) continue;
      // Ordinals count within a month or a year only.
      if (rule_.freq != Frequency::monthly && rule_.freq != Frequency::yearly) d.ordinal = 0;
      if (d.ordinal < -53 || d.ordinal > 53) continue;
      days_.push_back(d);
    }
    if (!rule_.byDay.empty() && days_.empty()) never_ = true;
    bool dayParts = !days_.empty() || !monthDays_.empty() || !yearDays_.empty() || !weekNos_.empty();
    if (!dayParts) {
      if (rule_.freq == Frequency::yearly) {
        monthDays_ = {start_.day};
        if (!anyMonth_) months_[start_.month] = anyMonth_ = true;
      } else if (rule_.freq == Frequency::monthly) {
        monthDays_ = {start_.day};
      } else if (rule_.freq == Frequency::weekly) {
        days_ = {{0, weekdayOf(startDay_)}};
      }
    }
    if (dateOnly_ && !isSubDaily()) {
      times_ = {0};
      return;
    }
    std::vector<int> hs = hours_, ms = minutes_, ss = seconds_;
    if (rule_.freq >= Frequency::daily && hs.empty()) hs = {hour0_};
    if (rule_.freq >= Frequency::hourly && ms.empty()) ms = {minute0_};
    if (rule_.freq >= Frequency::minutely && ss.empty()) ss = {second0_};
    if (rule_.freq >= Frequency::daily)
      for (int h : hs)
        for (int m : ms)
          for (int s : ss) times_.push_back(h * 3600 + m * 60 + s);
    if (rule_.freq == Frequency::hourly)
      for (int m : ms)
        for (int s : ss) times_.push_back(m * 60 + s);
    if (rule_.freq == Frequency::minutely)
      for (int s : ss) times_.push_back(s);
    if (rule_.freq == Frequency::secondly) times_ = {0};
  }

  // Whether every period holds as many starts as any other, so that those
  // before a window can be counted without being made.
  bool uniform() const {
    bool dayFilters = anyMonth_ || !monthDays_.empty() || !yearDays_.empty() || !days_.empty() || !weekNos_.empty();
    // Days 1-28 (or the last 28) are in every month, and of one sign they
    // never fall on the same day.
    auto shortMonthDays = [&] {
      return std::all_of(monthDays_.begin(), monthDays_.end(), [](int d) { return d > 0 && d <= 28; }) ||
             std::all_of(monthDays_.begin(), monthDays_.end(), [](int d) { return d < 0 && d >= -28; });
    };
    switch (rule_.freq) {
      case Frequency::secondly: return !dayFilters && hours_.empty() && minutes_.empty() && seconds_.empty();
      case Frequency::minutely: return !dayFilters && hours_.empty() && minutes_.empty();
      case Frequency::hourly: return !dayFilters && hours_.empty();
      case Frequency::daily: return !dayFilters;
      case Frequency::weekly: return !anyMonth_ && monthDays_.empty() && yearDays_.empty();
      case Frequency::monthly: return !anyMonth_ && days_.empty() && yearDays_.empty() && shortMonthDays();
      case Frequency::yearly: return days_.empty() && yearDays_.empty() && weekNos_.empty() && shortMonthDays();
    }
    return false;
  }

  int64_t weekStartOf(int64_t day) const { return day - floorMod(weekdayOf(day) - rule_.weekStart, 7); }

  int64_t monthIndex(int64_t year, int month) const { return year * 12 + month - 1; }

  int64_t subDailyUnit() const {
    return rule_.freq == Frequency::hourly ? 3600 : rule_.freq == Frequency::minutely ? 60 : 1;
  }
  int64_t subDailyBase() const {
    if (rule_.freq == Frequency::hourly) return dtstart_ - minute0_ * 60 - second0_;
    if (rule_.freq == Frequency::minutely) return dtstart_ - second0_;
    return dtstart_;
  }

  int64_t periodIndexOf(int64_t wall) const {
    int64_t day = floorDiv(wall, daySeconds);
    CivilDate c = civilFromDays(day);
    switch (rule_.freq) {
      case Frequency::yearly: return floorDiv(c.year - start_.year, interval_);
      case Frequency::monthly:
        return floorDiv(monthIndex(c.year, c.month) - monthIndex(start_.year, start_.month), interval_);
      case Frequency::weekly: return floorDiv((weekStartOf(day) - weekStartOf(startDay_)) / 7, interval_);
      case Frequency::daily: return floorDiv(day - startDay_, interval_);
      default: return floorDiv(wall - subDailyBase(), subDailyUnit() * interval_);
    }
  }

  int64_t periodStart(int64_t k) const {
    switch (rule_.freq) {
      case Frequency::yearly: {
        int64_t year = start_.year + k * interval_;
        return year > 9999 ? latestWall + 1 : daysFromCivil(year, 1, 1) * daySeconds;
      }
      case Frequency::monthly: {
        int64_t m = monthIndex(start_.year, start_.month) + k * interval_;
        int64_t year = floorDiv(m, 12);
        return year > 9999 ? latestWall + 1 : daysFromCivil(year, static_cast<int>(floorMod(m, 12)) + 1, 1) * daySeconds;
      }
      case Frequency::weekly: return (weekStartOf(startDay_) + 7 * k * interval_) * daySeconds;
      case Frequency::daily: return (startDay_ + k * interval_) * daySeconds;
      default: return subDailyBase() + k * interval_ * subDailyUnit();
    }
  }

  bool dayMatches(int64_t day, const CivilDate& c) const {
    if (anyMonth_ && !months_[c.month]) return false;
    if (!weekNos_.empty() && !weekNoMatches(day, c)) return false;
    int64_t yearStart = 0;
    int yearLength = isLeapYear(c.year) ? 366 : 365;
    if (!yearDays_.empty() || !days_.empty()) yearStart = daysFromCivil(c.year, 1, 1);
    if (!yearDays_.empty()) {
      int yd = static_cast<int>(day - yearStart) + 1;
      if (std::none_of(yearDays_.begin(), yearDays_.end(), [&](int v) { return v == yd || v == yd - yearLength - 1; }))
        return false;
    }
    int ml = monthLength(c.year, c.month);
    if (!monthDays_.empty() &&
        std::none_of(monthDays_.begin(), monthDays_.end(), [&](int v) { return v == c.day || v == c.day - ml - 1; }))
      return false;
    if (!days_.empty()) {
      int wd = weekdayOf(day);
      bool monthScope = rule_.freq == Frequency::monthly || anyMonth_;
      int position = monthScope ? c.day : static_cast<int>(day - yearStart) + 1;
      int length = monthScope ? ml : yearLength;
      int nth = (position - 1) / 7 + 1, fromEnd = -((length - position) / 7 + 1);
      if (std::none_of(days_.begin(), days_.end(), [&](const WeekdayNum& d) {
            return d.weekday == wd && (d.ordinal == 0 || d.ordinal == nth || d.ordinal == fromEnd);
          }))
        return false;
    }
    return true;
  }

  int64_t firstWeekOf(int64_t year) const {
    int64_t jan4 = daysFromCivil(year, 1, 4);
    return weekStartOf(jan4);
  }

  bool weekNoMatches(int64_t day, const CivilDate& c) const {
    int64_t weekYear = c.year;
    if (day < firstWeekOf(c.year)) weekYear = c.year - 1;
    else if (day >= firstWeekOf(c.year + 1)) weekYear = c.year + 1;
    int64_t first = firstWeekOf(weekYear);
    int number = static_cast<int>((day - first) / 7) + 1;
    int weeks = static_cast<int>((firstWeekOf(weekYear + 1) - first) / 7);
    return std::any_of(weekNos_.begin(), weekNos_.end(), [&](int v) { return v == number || v == number - weeks - 1; });
  }

  // The days of period k (DAILY and longer) that the rule keeps, in order.
  void daysOf(int64_t k, std::vector<int64_t>& out) {
    out.clear();
    auto consider = [&](int64_t day) {
      budget_.spend();
      CivilDate c = civilFromDays(day);
      if (dayMatches(day, c)) out.push_back(day);
    };
    auto monthByDays = [&](int64_t year, int month) {
      // Only month days asked for: no need to look at every day.
      int ml = monthLength(year, month);
      size_t first = out.size();
      for (int v : monthDays_) {
        int d = v > 0 ? v : ml + 1 + v;
        if (d >= 1 && d <= ml) out.push_back(daysFromCivil(year, month, d));
      }
      std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
      out.erase(std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end()), out.end());
      budget_.spend(static_cast<int64_t>(monthDays_.size()));
    };
    bool onlyMonthDays = days_.empty() && yearDays_.empty() && weekNos_.empty() && !monthDays_.empty();
    switch (rule_.freq) {
      case Frequency::yearly: {
        int64_t year = start_.year + k * interval_;
        if (year > 9999) return;
        for (int m = 1; m <= 12; ++m) {
          if (anyMonth_ && !months_[m]) continue;
          if (onlyMonthDays) monthByDays(year, m);
          else
            for (int d = 1, ml = monthLength(year, m); d <= ml; ++d) consider(daysFromCivil(year, m, d));
        }
        return;
      }
      case Frequency::monthly: {
        int64_t mi = monthIndex(start_.year, start_.month) + k * interval_;
        int64_t year = floorDiv(mi, 12);
        int month = static_cast<int>(floorMod(mi, 12)) + 1;
        if (year > 9999 || (anyMonth_ && !months_[month])) return;
        if (onlyMonthDays) monthByDays(year, month);
        else
          for (int d = 1, ml = monthLength(year, month); d <= ml; ++d) consider(daysFromCivil(year, month, d));
        return;
      }
      case Frequency::weekly: {
        int64_t first = weekStartOf(startDay_) + 7 * k * interval_;
        for (int i = 0; i < 7; ++i) consider(first + i);
        return;
      }
      default: consider(startDay_ + k * interval_);
    }
  }

  // Sub-daily periods: whether period k passes the day and time-of-day
  // limits; when not, `next` is the next period that may, so that a rule
  // limited to January or to 09:00 does not step through the rest one second
  // at a time.
  bool subDailyPasses(int64_t k, int64_t& next) {
    int64_t step = subDailyUnit() * interval_;
    int64_t base = subDailyBase();
    int64_t t = base + k * step;
    int64_t day = floorDiv(t, daySeconds);
    auto jumpTo = [&](int64_t wall) {
      next = std::max(k + 1, ceilDiv(wall - base, step));
      return false;
    };
    if (day != checkedDay_) {
      checkedDay_ = day;
      dayPasses_ = dayMatches(day, civilFromDays(day));
    }
    if (!dayPasses_) return jumpTo((day + 1) * daySeconds);
    if (!timeLimited()) return true;
    // Jump straight to the next period whose time of day passes.
    if (!residuesMade_) makeResidues();
    int64_t cycle = static_cast<int64_t>(cycle_);
    int64_t r = floorMod(k, cycle);
    if (passing_.empty()) {
      done_ = true;
      return false;
    }
    auto it = std::lower_bound(passing_.begin(), passing_.end(), r);
    int64_t target = it != passing_.end() ? k + (*it - r) : k + (cycle - r) + passing_.front();
    if (target == k) return true;
    next = target;
    return false;
  }

  bool timeLimited() const {
    return !hours_.empty() || (rule_.freq <= Frequency::minutely && !minutes_.empty()) ||
           (rule_.freq == Frequency::secondly && !seconds_.empty());
  }

  // The times of day of sub-daily periods repeat every `cycle_` periods;
  // `passing_` holds the positions in that cycle that BYHOUR, BYMINUTE and
  // BYSECOND let through.
  void makeResidues() {
    residuesMade_ = true;
    int64_t step = subDailyUnit() * interval_;
    int64_t a = step, b = daySeconds;
    while (b != 0) {
      int64_t t = a % b;
      a = b;
      b = t;
    }
    cycle_ = static_cast<size_t>(daySeconds / a);
    budget_.spend(static_cast<int64_t>(cycle_));
    int64_t base = subDailyBase();
    for (size_t r = 0; r < cycle_; ++r) {
      int64_t secondOfDay = floorMod(base + static_cast<int64_t>(r) * step, daySeconds);
      int hour = static_cast<int>(secondOfDay / 3600), minute = static_cast<int>(secondOfDay / 60 % 60),
          second = static_cast<int>(secondOfDay % 60);
      if (!hours_.empty() && !std::binary_search(hours_.begin(), hours_.end(), hour)) continue;
      if (rule_.freq <= Frequency::minutely && !minutes_.empty() &&
          !std::binary_search(minutes_.begin(), minutes_.end(), minute))
        continue;
      if (rule_.freq == Frequency::secondly && !seconds_.empty() &&
          !std::binary_search(seconds_.begin(), seconds_.end(), second))
        continue;
      passing_.push_back(static_cast<int64_t>(r));
    }
  }
  bool residuesMade_ = false;
  size_t cycle_ = 1;
  std::vector<int64_t> passing_;
  int64_t checkedDay_ = INT64_MIN;
  bool dayPasses_ = false;

  // Every start of period k, BYSETPOS applied, in order.
  void collect(int64_t k, std::vector<int64_t>& out) {
    out.clear();
    if (isSubDaily()) {
      int64_t t = subDailyBase() + k * interval_ * subDailyUnit();
      for (int offset : times_) out.push_back(t + offset);
    } else {
      daysOf(k, periodDays_);
      for (int64_t day : periodDays_) {
        budget_.spend(static_cast<int64_t>(times_.size()));
        for (int t : times_) out.push_back(day * daySeconds + t);
      }
    }
    if (setPos_.empty()) return;
    std::vector<int64_t> chosen;
    int64_t size = static_cast<int64_t>(out.size());
    for (int p : setPos_) {
      int64_t i = p > 0 ? p - 1 : size + p;
      if (i >= 0 && i < size) chosen.push_back(out[static_cast<size_t>(i)]);
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    out = std::move(chosen);
  }
  std::vector<int64_t> periodDays_;

  // DAILY and longer without BYSETPOS: days wholly before the window are
  // counted, not made.
  void streamPeriod(int64_t k) {
    daysOf(k, periodDays_);
    int64_t perDay = static_cast<int64_t>(times_.size());
    for (int64_t day : periodDays_) {
      if (done_) return;
      int64_t first = day * daySeconds, last = first + daySeconds - 1;
      if (last < from_ && first > dtstart_ && last <= stopAt_) {
        if (count_ > 0) {
          if (counted_ + perDay > count_) {
            done_ = true;
            return;
          }
          counted_ += perDay;
        }
        continue;
      }
      budget_.spend(perDay);
      for (int t : times_) {
        if (done_) return;
        offer(first + t);
      }
    }
  }

  int64_t countInPeriod(int64_t k) {
    std::vector<int64_t> set;
    int64_t next = k + 1;
    if (isSubDaily() && !subDailyPasses(k, next)) return 0;
    collect(k, set);
    return std::count_if(set.begin(), set.end(), [&](int64_t c) { return c > dtstart_; });
  }

  void offer(int64_t c) {
    if (c <= dtstart_) return;
    if (c > stopAt_) {
      done_ = true;
      return;
    }
    if (count_ > 0) {
      if (counted_ >= count_) {
        done_ = true;
        return;
      }
      ++counted_;
    }
    if (c >= from_) (*emit_)(c);
  }
};

}  // namespace

void expandRule(const RecurrenceRule& rule, int64_t dtstart, bool dateOnly, int64_t from, int64_t to,
                StepBudget& budget, const std::function<void(int64_t)>& emit) {
  Expansion(rule, dtstart, dateOnly, budget).run(from, to, emit);
}

std::optional<int64_t> lastStartOf(const RecurrenceRule& rule, int64_t dtstart, bool dateOnly, StepBudget& budget) {
  if (rule.count == 0 && !rule.until) return std::nullopt;
  // An UNTIL bounds the starts; it is taken as the last one, which may be a
  // little later than the true last start but never earlier.
  if (rule.count == 0) return std::max(dtstart, std::min(*rule.until, latestWall));
  Expansion expansion(rule, dtstart, dateOnly, budget);
  int64_t from = dtstart;
  if (std::optional<int64_t> k = expansion.periodOfOccurrence(std::min(rule.count, widest))) {
    from = expansion.periodStartOf(*k);
    // The count lasts beyond 9999: the series runs to its end.
    if (from > latestWall) return latestWall;
  }
  int64_t last = dtstart;
  expansion.run(std::max(from, dtstart), latestWall, [&](int64_t c) { last = c; });
  return last;
}

}  // namespace tallowick::ical
