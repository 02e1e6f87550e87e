#include "tallowick/dates.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <cfloat>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

#include "tallowick/helper_error.h"
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

// Builds an instant from local wall-clock fields, carrying out-of-range values
// over into the next larger unit the way mktime does.
std::optional<Instant> buildLocal(const Fields& f) {
  auto fitsInt = [](long long v) { return v >= INT_MIN && v <= INT_MAX; };
  if (!fitsInt(f.year - 1900) || !fitsInt(f.month - 1) || !fitsInt(f.day) || !fitsInt(f.hour) ||
      !fitsInt(f.minute) || !fitsInt(f.second))
    return std::nullopt;
  std::tm t{};
  t.tm_year = static_cast<int>(f.year - 1900);
  t.tm_mon = static_cast<int>(f.month - 1);
  t.tm_mday = static_cast<int>(f.day);
  t.tm_hour = static_cast<int>(f.hour);
  t.tm_min = static_cast<int>(f.minute);
  t.tm_sec = static_cast<int>(f.second);
  t.tm_isdst = -1;
  // mktime also returns -1 for 23:59:59 on 31 December 1969 UTC; only an
  // untouched tm_wday tells a real failure apart.
  t.tm_wday = -1;
  std::time_t built = std::mktime(&t);
  if (built == static_cast<std::time_t>(-1) && t.tm_wday == -1) return std::nullopt;
  if (!representable(built)) return std::nullopt;
  return instantFromTimeT(built);
}

std::optional<std::tm> splitLocal(Instant instant) {
  std::time_t secs = std::chrono::floor<seconds>(instant).time_since_epoch().count();
  std::tm t{};
  if (localtime_r(&secs, &t) == nullptr) return std::nullopt;
  return t;
}

// The fields of a UTC instant shifted by an offset, for the years 0001-9999;
// nothing outside them, where the C library's reading is kept.
std::optional<Fields> wallClockFields(long long utc, int64_t offset) {
  constexpr long long first = -62135596800LL;   // 0001-01-01T00:00:00
  constexpr long long pastLast = 253402300800LL;  // 10000-01-01T00:00:00
  if (utc < first - 86400 || utc > pastLast + 86400 || offset < -86400 || offset > 86400) return std::nullopt;
  long long wall = utc + offset;
  if (wall < first || wall >= pastLast) return std::nullopt;
  long long day = wall >= 0 ? wall / 86400 : (wall - 86399) / 86400;
  long long second = wall - day * 86400;
  std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
  return Fields{static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                second / 3600, second / 60 % 60, second % 60};
}

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

// The zone of that IANA name, or nothing when the zone database does not know it.
std::unique_ptr<icu::TimeZone> knownZone(const std::string& name) {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name)));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return nullptr;
  return zone;
}

std::optional<Instant> buildInZone(const DateComponents& c, std::unique_ptr<icu::TimeZone> zone) {
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(zone.release(), status);
  if (U_FAILURE(status)) return std::nullopt;
  // Proleptic, like the C library, rather than Julian before 1582.
  calendar.setGregorianChange(-DBL_MAX, status);
  calendar.setLenient(true);
  calendar.clear();
  calendar.set(UCAL_EXTENDED_YEAR, *c.year);
  calendar.set(UCAL_MONTH, *c.month - 1);
  calendar.set(UCAL_DATE, *c.day);
  calendar.set(UCAL_HOUR_OF_DAY, c.hour.value_or(0));
  calendar.set(UCAL_MINUTE, c.minute.value_or(0));
  calendar.set(UCAL_SECOND, c.second.value_or(0));
  UDate millis = calendar.getTime(status);
  if (U_FAILURE(status) || !(millis / 1000 > -1e15 && millis / 1000 < 1e15)) return std::nullopt;
  if (!representable(static_cast<long long>(millis / 1000))) return std::nullopt;
  return Instant(std::chrono::duration_cast<Instant::duration>(std::chrono::milliseconds(static_cast<long long>(millis))));
}

}  // namespace

Instant parseYmd(const std::string& text) {
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
  auto instant = buildLocal(f);
  if (!instant) throw HelperError::invalidInput("Unparseable date: " + text);
  return *instant;
}

Instant dayBounds(const std::string& text, bool endOfDay) {
  Instant start = parseYmd(text);
  if (!endOfDay) return start;
  std::optional<Instant> end;
  if (auto t = splitLocal(start)) {
    Fields f{t->tm_year + 1900LL, t->tm_mon + 1LL, t->tm_mday, 23, 59, 59};
    end = buildLocal(f);
  }
  if (!end) throw HelperError::invalidInput("Unable to build end-of-day for " + text);
  return *end;
}

std::string toLocalISOString(Instant instant, const LocalOffsets& offsets) {
  std::string text;
  assignLocalISOString(text, instant, offsets);
  return text;
}

void assignLocalISOString(std::string& text, Instant instant, const LocalOffsets& offsets) {
  std::optional<Fields> f;
  if (offsets) {
    long long secs = std::chrono::floor<seconds>(instant).time_since_epoch().count();
    if (std::optional<int64_t> offset = offsets(secs)) f = wallClockFields(secs, *offset);
  }
  if (!f) {
    f.emplace();
    if (auto t = splitLocal(instant))
      f = Fields{t->tm_year + 1900LL, t->tm_mon + 1LL, t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec};
  }
  if (f->year >= 0 && f->year <= 9999) {
    writeFixedWidth(text, *f);
    return;
  }
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", f->year, f->month, f->day, f->hour,
                f->minute, f->second);
  text = buffer;
}

std::optional<Instant> dateFromComponents(const DateComponents& c) {
  if (!c.year || !c.month || !c.day) return std::nullopt;
  // A zone name the zone database does not know counts as no zone: local time.
  if (c.timeZone)
    if (auto zone = knownZone(*c.timeZone)) return buildInZone(c, std::move(zone));
  return buildLocal({*c.year, *c.month, *c.day, c.hour.value_or(0), c.minute.value_or(0), c.second.value_or(0)});
}

DateComponents localDueComponents(Instant instant) {
  DateComponents c;
  if (auto t = splitLocal(instant)) {
    c.year = t->tm_year + 1900;
    c.month = t->tm_mon + 1;
    c.day = t->tm_mday;
    c.hour = t->tm_hour;
    c.minute = t->tm_min;
  }
  return c;
}

}  // namespace tallowick
