#pragma once
// Recurrence rules (RRULE) expanded on wall-clock seconds, for any year from
// 0001 to 9999. libical's own iterator walks every occurrence from DTSTART
// and stops in 2582; this one starts at the window in closed form, so a
// listing costs what it lists, however old the rule is.
//
// Wall-clock seconds count from 1970-01-01T00:00:00 of the rule's own clock
// (no zone): turning them into instants is the caller's business.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "tallowick/zones/civil.h"

namespace tallowick::ical {

using zones::CivilDate;
using zones::civilFromDays;
using zones::daysFromCivil;
using zones::earliestWall;
using zones::latestWall;
using zones::wallSeconds;

enum class Frequency { secondly, minutely, hourly, daily, weekly, monthly, yearly };

struct WeekdayNum {
  int ordinal = 0;  // 0: every such weekday; else the n-th (negative from the end)
  int weekday = 0;  // 0 = Monday ... 6 = Sunday
};

struct RecurrenceRule {
  Frequency freq = Frequency::daily;
  int64_t interval = 1;          // any size: one past the years 0001-9999 repeats nothing
  int64_t count = 0;             // 0: no COUNT; any size
  std::optional<int64_t> until;  // wall seconds, inclusive
  std::vector<int> bySecond, byMinute, byHour, byMonthDay, byYearDay, byWeekNo, byMonth, bySetPos;
  std::vector<WeekdayNum> byDay;
  int weekStart = 0;  // Monday
};

// Thrown when an expansion would take more steps than it was given.
class BudgetExceeded : public std::runtime_error {
 public:
  BudgetExceeded() : std::runtime_error("recurrence expansion budget exceeded") {}
};

// Steps an expansion may take; shared by everything expanded for one file.
class StepBudget {
 public:
  explicit StepBudget(int64_t steps) : left_(steps) {}
  void spend(int64_t steps = 1) {
    left_ -= steps;
    if (left_ < 0) throw BudgetExceeded();
  }
  int64_t left() const { return left_; }

 private:
  int64_t left_;
};

// Calls `emit` with every start the rule gives after `dtstart` (DTSTART itself
// is the caller's: it always counts as the first occurrence, also for COUNT)
// that lies in [from, to], in increasing order. With `dateOnly` the times of
// day are left out (all starts are midnights). Throws BudgetExceeded.
void expandRule(const RecurrenceRule& rule, int64_t dtstart, bool dateOnly, int64_t from, int64_t to,
                StepBudget& budget, const std::function<void(int64_t)>& emit);

// The last start of a rule that ends (COUNT or UNTIL), DTSTART included;
// nothing when it repeats for ever. Throws BudgetExceeded.
std::optional<int64_t> lastStartOf(const RecurrenceRule& rule, int64_t dtstart, bool dateOnly, StepBudget& budget);

}  // namespace tallowick::ical
