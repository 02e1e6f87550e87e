#include "tallowick/zones/zone_rules.h"

#include <algorithm>
#include <climits>

#include "tallowick/zones/civil.h"

namespace tallowick::zones {
namespace {

uint32_t be32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}
int64_t be64(std::string_view b, size_t at) {
  return static_cast<int64_t>(static_cast<uint64_t>(be32(b, at)) << 32 | be32(b, at + 4));
}

// "hh[:mm[:ss]]" with an optional sign; POSIX offsets count west.
bool readSeconds(std::string_view& s, int64_t& out) {
  int sign = 1;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    sign = s[0] == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  int64_t parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (s.empty() || s[0] != ':') break;
      s.remove_prefix(1);
    }
    if (s.empty() || s[0] < '0' || s[0] > '9') return false;
    int64_t v = 0;
    while (!s.empty() && s[0] >= '0' && s[0] <= '9' && v < 1000) {
      v = v * 10 + (s[0] - '0');
      s.remove_prefix(1);
    }
    parts[i] = v;
  }
  out = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
  return true;
}

bool readName(std::string_view& s) {
  if (!s.empty() && s[0] == '<') {
    size_t close = s.find('>');
    if (close == std::string_view::npos) return false;
    s.remove_prefix(close + 1);
    return true;
  }
  size_t n = 0;
  while (n < s.size() && ((s[n] >= 'A' && s[n] <= 'Z') || (s[n] >= 'a' && s[n] <= 'z'))) ++n;
  s.remove_prefix(n);
  return n >= 3;
}

bool readNumber(std::string_view& s, int& out) {
  if (s.empty() || s[0] < '0' || s[0] > '9') return false;
  out = 0;
  while (!s.empty() && s[0] >= '0' && s[0] <= '9' && out < 10000) {
    out = out * 10 + (s[0] - '0');
    s.remove_prefix(1);
  }
  return true;
}

}  // namespace

std::optional<ZoneRules> ZoneRules::fromPosix(std::string_view rule) {
  ZoneRules rules;
  if (!rules.parseFooter(rule)) return std::nullopt;
  rules.hasFooter_ = true;
  rules.initial_ = rules.standard_;
  return rules;
}

const ZoneRules& ZoneRules::utc() {
  static const ZoneRules zone = *fromPosix("UTC0");
  return zone;
}

std::optional<ZoneRules> ZoneRules::parse(std::string_view b) {
  constexpr size_t headerSize = 44;
  if (b.size() < headerSize || b.substr(0, 4) != "TZif") return std::nullopt;
  char version = b[4];
  auto blockSize = [&](size_t at, size_t timeSize, size_t& size) {
    if (b.size() < at + headerSize) return false;
    uint64_t isut = be32(b, at + 20), isstd = be32(b, at + 24), leap = be32(b, at + 28), times = be32(b, at + 32),
             types = be32(b, at + 36), chars = be32(b, at + 40);
    size = times * timeSize + times + types * 6 + chars + leap * (timeSize + 4) + isstd + isut;
    return b.size() >= at + headerSize + size;
  };
  size_t at = 0, size = 0, timeSize = 4;
  if (!blockSize(0, 4, size)) return std::nullopt;
  if (version >= '2') {
    at = headerSize + size;
    timeSize = 8;
    if (!blockSize(at, 8, size)) return std::nullopt;
  }
  uint32_t times = be32(b, at + 32), types = be32(b, at + 36);
  if (types == 0) return std::nullopt;
  size_t data = at + headerSize;
  size_t indices = data + times * timeSize, infos = indices + times;
  ZoneRules rules;
  auto offsetOfType = [&](size_t type) { return static_cast<int32_t>(be32(b, infos + type * 6)); };
  rules.initial_ = offsetOfType(0);
  for (size_t i = 0; i < times; ++i) {
    int64_t t = timeSize == 8 ? be64(b, data + i * 8) : static_cast<int32_t>(be32(b, data + i * 4));
    size_t type = static_cast<unsigned char>(b[indices + i]);
    if (type >= types) return std::nullopt;
    if (!rules.transitions_.empty() && t <= rules.transitions_.back()) continue;
    rules.transitions_.push_back(t);
    rules.offsets_.push_back(offsetOfType(type));
  }
  if (version >= '2') {
    std::string_view rest = b.substr(data + size);
    if (rest.size() >= 2 && rest[0] == '\n') {
      size_t end = rest.find('\n', 1);
      if (end != std::string_view::npos) rules.hasFooter_ = rules.parseFooter(rest.substr(1, end - 1));
    }
  }
  return rules;
}

bool ZoneRules::parseFooter(std::string_view s) {
  int64_t west = 0;
  if (s.empty() || !readName(s) || !readSeconds(s, west)) return false;
  standard_ = static_cast<int32_t>(-west);
  if (s.empty()) return true;
  if (!readName(s)) return false;
  int64_t daylight = -(west - 3600);
  if (!s.empty() && s[0] != ',') {
    if (!readSeconds(s, west)) return false;
    daylight = -west;
  }
  auto readRule = [&](Rule& rule) {
    if (s.empty() || s[0] != ',') return false;
    s.remove_prefix(1);
    if (!s.empty() && s[0] == 'J') {
      s.remove_prefix(1);
      rule.kind = Rule::julianNoLeap;
      if (!readNumber(s, rule.day) || rule.day < 1 || rule.day > 365) return false;
    } else if (!s.empty() && s[0] == 'M') {
      s.remove_prefix(1);
      rule.kind = Rule::monthWeekDay;
      if (!readNumber(s, rule.month) || s.empty() || s[0] != '.') return false;
      s.remove_prefix(1);
      if (!readNumber(s, rule.week) || s.empty() || s[0] != '.') return false;
      s.remove_prefix(1);
      if (!readNumber(s, rule.day)) return false;
      if (rule.month < 1 || rule.month > 12 || rule.week < 1 || rule.week > 5 || rule.day > 6) return false;
    } else {
      rule.kind = Rule::zeroBased;
      if (!readNumber(s, rule.day) || rule.day > 365) return false;
    }
    if (!s.empty() && s[0] == '/') {
      s.remove_prefix(1);
      if (!readSeconds(s, rule.time)) return false;
    }
    return true;
  };
  // A daylight name without rules says nothing usable: standard all year.
  if (s.empty()) return true;
  if (!readRule(begins_) || !readRule(ends_)) return false;
  daylight_ = static_cast<int32_t>(daylight);
  return true;
}

int64_t ZoneRules::ruleDay(const Rule& rule, int64_t year) {
  int64_t jan1 = daysFromCivil(year, 1, 1);
  switch (rule.kind) {
    case Rule::julianNoLeap: return jan1 + rule.day - 1 + (isLeapYear(year) && rule.day >= 60 ? 1 : 0);
    case Rule::zeroBased: return jan1 + rule.day;
    case Rule::monthWeekDay: {
      int64_t first = daysFromCivil(year, rule.month, 1);
      int sundayBased = static_cast<int>(((first + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
      int64_t day = first + (rule.day - sundayBased + 7) % 7 + (rule.week - 1) * 7;
      int64_t next = rule.month == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, rule.month + 1, 1);
      while (day >= next) day -= 7;
      return day;
    }
  }
  return jan1;
}

int64_t ZoneRules::footerOffsetAt(int64_t utc) const {
  if (!daylight_) return standard_;
  int64_t year = civilFromDays(floorDiv(utc + standard_, 86400)).year;
  int64_t begins = ruleDay(begins_, year) * 86400 + begins_.time - standard_;
  int64_t ends = ruleDay(ends_, year) * 86400 + ends_.time - *daylight_;
  bool daylight = begins < ends ? (utc >= begins && utc < ends) : !(utc >= ends && utc < begins);
  return daylight ? *daylight_ : standard_;
}

int64_t ZoneRules::offsetAt(int64_t utc) const {
  if (transitions_.empty() || utc >= transitions_.back()) {
    if (hasFooter_) return footerOffsetAt(utc);
    return offsets_.empty() ? initial_ : offsets_.back();
  }
  auto it = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
  if (it == transitions_.begin()) return initial_;
  return offsets_[static_cast<size_t>(it - transitions_.begin()) - 1];
}

ZoneRules::Span ZoneRules::spanAt(int64_t utc) const {
  constexpr int64_t never = INT64_MAX;
  if (transitions_.empty() || utc >= transitions_.back()) {
    int64_t from = transitions_.empty() ? INT64_MIN : transitions_.back();
    if (!hasFooter_) return {offsetAt(utc), from, never};
    if (!daylight_) return {standard_, from, never};
    // Within the rule's year, up to its next change; a rule may put a change
    // up to a week (167 hours) across the turn of the year, so the span
    // stops that far before it.
    int64_t day = floorDiv(utc + standard_, 86400);
    int64_t year = civilFromDays(day).year;
    int64_t begins = ruleDay(begins_, year) * 86400 + begins_.time - standard_;
    int64_t ends = ruleDay(ends_, year) * 86400 + ends_.time - *daylight_;
    int64_t until = daysFromCivil(year + 1, 1, 1) * 86400 - standard_ - 8 * 86400;
    for (int64_t change : {begins, ends})
      if (change > utc) until = std::min(until, change);
    return {footerOffsetAt(utc), utc, std::max(until, utc + 1)};
  }
  auto it = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
  if (it == transitions_.begin()) return {initial_, INT64_MIN, *it};
  return {offsets_[static_cast<size_t>(it - transitions_.begin()) - 1], *(it - 1), *it};
}

int64_t ZoneRules::utcOf(int64_t wall) const {
  return utcOfWall(wall, [this](int64_t utc) { return offsetAt(utc); });
}

}  // namespace tallowick::zones
