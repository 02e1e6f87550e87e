#pragma once
// The offsets of a system time zone, read from its TZif file under
// /usr/share/zoneinfo (or $TZDIR): the recorded transitions, then the rule
// of the file's POSIX footer for every later year, up to 9999 and beyond.
// libical's zones end in 2582 and work out every transition since the 19th
// century on first use; this reads the file once and looks transitions up.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::ical {

class ZoneRules {
 public:
  // The zone of that name, read once per process and kept; null when no
  // such zone file exists or it cannot be read. Thread-safe.
  static const ZoneRules* system(const std::string& name);

  // The zone of the process's local time: $TZ naming a zone file (":Name",
  // "Name" or an absolute path), or /etc/localtime when TZ is not set; null
  // when TZ is a rule string or names nothing readable, where the C
  // library's own conversion has to do. Follows changes of TZ. Thread-safe.
  static const ZoneRules* local();

  // The rules in the bytes of a TZif file; nothing when they are not one.
  static std::optional<ZoneRules> parse(std::string_view tzif);

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

}  // namespace tallowick::ical
