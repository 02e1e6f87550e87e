#pragma once
// The offsets of one time zone: the transitions a TZif file records, then the
// rule of its POSIX footer for every later year, up to 9999 and beyond. The
// same rule alone serves a TZ rule string such as "EST5EDT,M3.2.0,M11.1.0".
// Pure: built from bytes, it reads no file.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tallowick::zones {

class ZoneRules {
 public:
  // The rules in the bytes of a TZif file; nothing when they are not one.
  static std::optional<ZoneRules> parse(std::string_view tzif);
  // The rules of a POSIX TZ string ("CET-1CEST,M3.5.0,M10.5.0/3"); nothing
  // when it is not one.
  static std::optional<ZoneRules> fromPosix(std::string_view rule);
  // UTC, offset 0 at every instant.
  static const ZoneRules& utc();

  // Seconds east of UTC at a UTC instant (seconds since the epoch).
  int64_t offsetAt(int64_t utc) const;

  // That offset and instants around the one asked for that share it, so
  // that a caller converting many times in order can skip the lookups:
  // offsetAt(t) == offset for every t in [from, until). The span may be
  // shorter than the true one.
  struct Span {
    int64_t offset, from, until;
  };
  Span spanAt(int64_t utc) const;

  // The UTC instant of a wall-clock time (seconds since 1970-01-01 of the
  // zone's clock). A time that occurs twice is the first of the two; a time
  // skipped by a change is taken with the offset from before the change, so
  // 02:30 on a spring-forward night is 03:30 of the new offset.
  int64_t utcOf(int64_t wall) const;

 private:
  struct Rule {
    enum Kind { julianNoLeap, zeroBased, monthWeekDay } kind = monthWeekDay;
    int day = 0, week = 0, month = 0;
    int64_t time = 7200;
  };
  std::vector<int64_t> transitions_;
  std::vector<int32_t> offsets_;  // offset from transitions_[i] on
  int32_t initial_ = 0;
  bool hasFooter_ = false;
  int32_t standard_ = 0;
  std::optional<int32_t> daylight_;
  Rule begins_, ends_;

  bool parseFooter(std::string_view footer);
  int64_t footerOffsetAt(int64_t utc) const;
  static int64_t ruleDay(const Rule& rule, int64_t year);
};

// The offsets of one zone for many instants in a row, as a listing prints
// them: the span of the last answer answers most of the next. Not
// thread-safe; the zone must outlive it.
class ZoneCursor {
 public:
  explicit ZoneCursor(const ZoneRules& zone) : zone_(&zone) {}
  int64_t offsetAt(int64_t utc) {
    if (utc < span_.from || utc >= span_.until) span_ = zone_->spanAt(utc);
    return span_.offset;
  }
  const ZoneRules& zone() const { return *zone_; }

 private:
  const ZoneRules* zone_;
  ZoneRules::Span span_{0, 0, 0};
};

// The UTC instant of a wall-clock time under any offset function (seconds
// east at a UTC instant), by the rules of ZoneRules::utcOf. Offsets must not
// change twice within a day.
template <typename OffsetAt>
int64_t utcOfWall(int64_t wall, const OffsetAt& offsetAt) {
  constexpr int64_t day = 86400;
  int64_t candidates[3] = {offsetAt(wall - day), offsetAt(wall), offsetAt(wall + day)};
  std::optional<int64_t> best;
  int64_t earliest = wall - candidates[0];
  for (int64_t offset : candidates) {
    int64_t utc = wall - offset;
    if (utc < earliest) earliest = utc;
    if (offsetAt(utc) == offset && (!best || utc < *best)) best = utc;
  }
  return best ? *best : wall - offsetAt(earliest);
}

}  // namespace tallowick::zones
