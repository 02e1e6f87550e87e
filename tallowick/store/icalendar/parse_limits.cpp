#include "tallowick/store/icalendar/parse_limits.h"

#include <array>
#include <vector>

#include "tallowick/store/icalendar/content_lines.h"

namespace tallowick::ical {
namespace {

bool isDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A date or date-time as libical's reader takes it: YYYYMMDD, optionally
// THHMMSS and a Z, not all zeros (libical's null time).
bool isDateOrDateTime(std::string_view s) {
  if (s.size() != 8 && s.size() != 15 && s.size() != 16) return false;
  if (!isDigits(s.substr(0, 8))) return false;
  if (s.size() > 8 && (s[8] != 'T' || !isDigits(s.substr(9, 6)))) return false;
  if (s.size() == 16 && s[15] != 'Z') return false;
  return s.find_first_of("123456789") != std::string_view::npos;
}

bool isDateList(std::string_view s) {
  for (size_t comma; (comma = s.find(',')) != std::string_view::npos; s.remove_prefix(comma + 1))
    if (!isDateOrDateTime(s.substr(0, comma))) return false;
  return isDateOrDateTime(s);
}

// Properties whose values libical never refuses (texts, addresses, numbers
// it reads with atoi, offsets, and words it keeps as they are), unless the
// value is empty.
constexpr std::array<std::string_view, 29> alwaysReadable = {
    "SUMMARY", "DESCRIPTION", "LOCATION", "UID", "STATUS", "CLASS", "TRANSP", "SEQUENCE", "PRIORITY", "CATEGORIES",
    "ATTENDEE", "ORGANIZER", "URL", "CONTACT", "COMMENT", "RELATED-TO", "RESOURCES", "TZID", "TZNAME",
    "TZOFFSETFROM", "TZOFFSETTO", "TZURL", "VERSION", "PRODID", "CALSCALE", "METHOD", "ACTION", "REPEAT",
    "PERCENT-COMPLETE"};

constexpr std::array<std::string_view, 10> singleDates = {"DTSTART", "DTEND", "DUE", "DTSTAMP", "CREATED",
                                                          "LAST-MODIFIED", "COMPLETED", "RECURRENCE-ID",
                                                          "ACKNOWLEDGED", "TZUNTIL"};

template <size_t n>
bool isOneOf(std::string_view name, const std::array<std::string_view, n>& names) {
  for (std::string_view known : names)
    if (name == known) return true;
  return false;
}

// The VALUE parameter among a line's parameters, upper case; empty without
// one.
std::string valueParameter(std::string_view parameters) {
  std::string upper = upperAscii(parameters);
  size_t at = upper.find(";VALUE=");
  if (at == std::string::npos) return {};
  size_t end = upper.find(';', at + 1);
  return upper.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
}

struct Component {
  uint64_t properties = 0;
  uint64_t unsure = 0;
};

uint64_t removalCost(const Component& c) { return c.unsure * (c.properties + c.unsure); }

}  // namespace

bool surelyReadable(std::string_view upperName, std::string_view valueType, std::string_view value) {
  value = trimmedValue(value);
  // libical drops a property without a value as one it cannot read.
  if (value.empty()) return false;
  bool xName = upperName.substr(0, 2) == "X-";
  if (valueType.empty() && (xName || isOneOf(upperName, alwaysReadable))) return true;
  bool dateType = valueType.empty() || valueType == "DATE" || valueType == "DATE-TIME";
  if (dateType && isOneOf(upperName, singleDates)) return isDateOrDateTime(value);
  if (dateType && (upperName == "EXDATE" || upperName == "RDATE")) return isDateList(value);
  return false;
}

std::optional<std::string> limitExceeded(std::string_view text, const ParseLimits& limits) {
  const std::string manyUnreadable =
      "holds so many values libical cannot read in one component that removing them would take it seconds";
  if (text.size() > limits.bytes) return "is larger than " + std::to_string(limits.bytes >> 20) + " MiB";
  ContentLineReader lines(text);
  ContentLine line;
  std::vector<Component> open;
  uint64_t removals = 0;
  while (lines.next(line)) {
    if (line.parameterCount > limits.parametersPerLine)
      return "has a line of more than " + std::to_string(limits.parametersPerLine) + " parameters";
    if (line.isNamed("BEGIN")) {
      if (open.size() == limits.nesting)
        return "is nested more than " + std::to_string(limits.nesting) + " components deep";
      open.emplace_back();
      continue;
    }
    if (line.isNamed("END")) {
      if (!open.empty()) {
        removals += removalCost(open.back());
        open.pop_back();
      }
      continue;
    }
    if (open.empty() || !line.hasValue) continue;
    Component& c = open.back();
    ++c.properties;
    std::string name = upperAscii(line.name);
    std::string valueType = line.parameterCount > 0 ? valueParameter(line.parameters) : std::string();
    if (!surelyReadable(name, valueType, line.value)) ++c.unsure;
    if (removals + removalCost(c) > limits.removalWork) return manyUnreadable;
  }
  for (const Component& c : open) removals += removalCost(c);
  if (removals > limits.removalWork) return manyUnreadable;
  return std::nullopt;
}

}  // namespace tallowick::ical
