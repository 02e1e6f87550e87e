#include "tallowick/dates.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <string_view>
#include <vector>

#include "tallowick/helper_error.h"
#include "tallowick/zones/civil.h"
#include "text/unicode.h"

namespace tallowick {
namespace {

using std::chrono::seconds;

// The seconds an Instant can hold; outside them no instant can be built.
bool representable(long long secs) {
  constexpr auto lo = std::chrono::duration_cast<seconds>(Instant::min().time_since_epoch()).count() + 1;
  constexpr auto hi = std::chrono::duration_cast<seconds>(Instant::max().time_since_epoch()).count() - 1;
  return secs >= lo && secs <= hi;
}

struct Fields {
  long long year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// Builds an instant from wall-clock fields of `zone`, carrying out-of-range
// values over into the next larger unit (month 13 is January of the next
// year, day 0 the last of the month before). Fields beyond what an int holds
// build nothing, as with the C library's calendar.
std::optional<Instant> buildInZone(const Fields& f, const zones::ZoneRules& zone) {
  auto fitsInt = [](long long v) { return v >= INT_MIN && v <= INT_MAX; };
  if (!fitsInt(f.year - 1900) || !fitsInt(f.month - 1) || !fitsInt(f.day) || !fitsInt(f.hour) ||
      !fitsInt(f.minute) || !fitsInt(f.second))
    return std::nullopt;
  // Within these bounds no sum below comes near 64 bits.
  int64_t months = f.year * 12 + (f.month - 1);
  int64_t days = zones::daysFromCivil(zones::floorDiv(months, 12), static_cast<int>(zones::floorMod(months, 12)) + 1, 1) +
                 (f.day - 1);
  int64_t wall = days * zones::daySeconds + f.hour * 3600 + f.minute * 60 + f.second;
  int64_t utc = zone.utcOf(wall);
  if (!representable(utc)) return std::nullopt;
  return instantFromTimeT(static_cast<std::time_t>(utc));
}

Fields fieldsOf(int64_t utc, int64_t offset) {
  zones::CivilTime t = zones::civilFromWall(utc + offset);
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

int64_t secondsOf(Instant instant) { return std::chrono::floor<seconds>(instant).time_since_epoch().count(); }

// "YYYY-MM-DDTHH:MM:SS" for a year of 0-9999, written without printf: a long
// listing prints two of these per occurrence.
void writeFixedWidth(std::string& text, const Fields& f) {
  text = "0000-00-00T00:00:00";
  auto put = [&](size_t at, long long value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
  };
  put(0, f.year, 4);
  put(5, f.month, 2);
  put(8, f.day, 2);
  put(11, f.hour, 2);
  put(14, f.minute, 2);
  put(17, f.second, 2);
}

void writeFields(std::string& text, const Fields& f) {
  if (f.year >= 0 && f.year <= 9999) {
    writeFixedWidth(text, f);
    return;
  }
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  text = buffer;
}

// An optional sign and one or more decimal digits, nothing else.
std::optional<long long> integerField(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  long long value = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    value = value * 10 + (s[i] - '0');
  }
  return negative ? -value : value;
}

// Byte offsets at which characters 0...n start (the last may be the end).
// Positions count user-perceived characters, which for ASCII other than CR LF
// are bytes.
std::vector<size_t> characterOffsets(std::string_view text, size_t n) {
  std::vector<size_t> offsets;
  bool simple = text.find('\r') == std::string_view::npos;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) simple = false;
  for (size_t i = 0; i <= n; ++i)
    offsets.push_back(simple ? std::min(i, text.size()) : vantrel::text::graphemePrefixBytes(text, i));
  return offsets;
}

}  // namespace

Instant parseYmd(const std::string& text, const zones::ZoneRules& local) {
  std::string_view trimmed = vantrel::text::trimBlanks(text);
  size_t length = vantrel::text::graphemeCount(trimmed);
  if (length < 10) throw HelperError::invalidInput("Date must be YYYY-MM-DD: " + text);

  bool withTime = length >= 19;
  auto at = characterOffsets(trimmed, withTime ? 19 : 10);
  auto field = [&](size_t from, size_t to, long long fallback) {
    return integerField(trimmed.substr(at[from], at[to] - at[from])).value_or(fallback);
  };
  Fields f;
  f.year = field(0, 4, 1970);
  f.month = field(5, 7, 1);
  f.day = field(8, 10, 1);
  if (withTime) {
    f.hour = field(11, 13, 0);
    f.minute = field(14, 16, 0);
    f.second = field(17, 19, 0);
  }
  auto instant = buildInZone(f, local);
  if (!instant) throw HelperError::invalidInput("Unparseable date: " + text);
  return *instant;
}

Instant dayBounds(const std::string& text, bool endOfDay, const zones::ZoneRules& local) {
  Instant start = parseYmd(text, local);
  if (!endOfDay) return start;
  int64_t utc = secondsOf(start);
  Fields f = fieldsOf(utc, local.offsetAt(utc));
  std::optional<Instant> end = buildInZone({f.year, f.month, f.day, 23, 59, 59}, local);
  if (!end) throw HelperError::invalidInput("Unable to build end-of-day for " + text);
  return *end;
}

std::string toLocalISOString(Instant instant, const zones::ZoneRules& local) {
  std::string text;
  zones::ZoneCursor cursor(local);
  assignLocalISOString(text, instant, cursor);
  return text;
}

void assignLocalISOString(std::string& text, Instant instant, zones::ZoneCursor& local) {
  int64_t utc = secondsOf(instant);
  writeFields(text, fieldsOf(utc, local.offsetAt(utc)));
}

std::optional<Instant> dateFromComponents(const DateComponents& c, const zones::ZoneSource& source) {
  if (!c.year || !c.month || !c.day) return std::nullopt;
  // A zone name the zone data does not know counts as no zone: local time.
  const zones::ZoneRules* zone = c.timeZone ? source.find(*c.timeZone) : nullptr;
  return buildInZone({*c.year, *c.month, *c.day, c.hour.value_or(0), c.minute.value_or(0), c.second.value_or(0)},
                     zone ? *zone : source.local());
}

DateComponents localDueComponents(Instant instant, const zones::ZoneRules& local) {
  int64_t utc = secondsOf(instant);
  Fields f = fieldsOf(utc, local.offsetAt(utc));
  DateComponents c;
  c.year = static_cast<int>(f.year);
  c.month = static_cast<int>(f.month);
  c.day = static_cast<int>(f.day);
  c.hour = static_cast<int>(f.hour);
  c.minute = static_cast<int>(f.minute);
  return c;
}

}  // namespace tallowick
