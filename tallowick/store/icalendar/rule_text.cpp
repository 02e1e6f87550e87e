#include "tallowick/store/icalendar/rule_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

#include "tallowick/store/icalendar/content_lines.h"
#include "tallowick/store/icalendar/wall_clock.h"

namespace tallowick::ical {
namespace {

// What libical holds without wrapping.
constexpr int64_t libicalInterval = std::numeric_limits<int16_t>::max();
constexpr int64_t libicalCount = std::numeric_limits<int32_t>::max();
constexpr int64_t mostWeeks = 53;

// A number read as libical reads it (blanks, a sign, the digits, whatever
// follows them ignored) but at full width: past 64 bits it stays at the
// largest value. Nothing without a digit.
std::optional<int64_t> leadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    value = value > (std::numeric_limits<int64_t>::max() - 9) / 10 ? std::numeric_limits<int64_t>::max()
                                                                   : value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

bool namedAs(std::string_view part, std::string_view upperName) {
  return part.size() > upperName.size() && part[upperName.size()] == '=' &&
         upperAscii(part.substr(0, upperName.size())) == upperName;
}

// A rule's text as libical may read it, with the numbers it would wrap.
struct Prepared {
  std::string text;  // INTERVAL and COUNT beyond libical's width put as 1 (or 0, which it refuses)
  std::optional<int64_t> interval, count;
  bool rewritten = false;
};

std::optional<Prepared> prepare(std::string_view value) {
  Prepared out;
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t end = std::min(value.find(';', begin), value.size());
    std::string_view part = value.substr(begin, end - begin);
    if (begin > 0) out.text += ';';
    bool interval = namedAs(part, "INTERVAL"), count = namedAs(part, "COUNT");
    std::optional<int64_t> number =
        interval || count ? leadingNumber(part.substr(part.find('=') + 1)) : std::nullopt;
    int64_t limit = interval ? libicalInterval : libicalCount;
    if (number && (*number > limit || *number < -limit)) {
      // A value libical would wrap: it reads 1 in its place (or 0, which it
      // refuses, for a negative one), and the value itself is kept here.
      out.text += std::string(part.substr(0, part.find('=') + 1)) + (*number > 0 ? "1" : "0");
      if (*number > 0) (interval ? out.interval : out.count) = *number;
      out.rewritten = true;
    } else {
      out.text += part;
    }
    if (namedAs(part, "BYDAY")) {
      std::string_view days = part.substr(6);
      for (size_t from = 0; from <= days.size();) {
        size_t comma = std::min(days.find(',', from), days.size());
        std::optional<int64_t> ordinal = leadingNumber(days.substr(from, comma - from));
        if (ordinal && (*ordinal > mostWeeks || *ordinal < -mostWeeks)) return std::nullopt;
        from = comma + 1;
      }
    }
    begin = end + 1;
  }
  return out;
}

}  // namespace

RuleReading readingOf(const icalrecurrencetype& rule) { return {ruleFromIcal(rule, std::nullopt), rule.until}; }

std::optional<RuleReading> readRule(std::string_view value) {
  std::optional<Prepared> prepared = prepare(trimmedValue(value));
  if (!prepared) return std::nullopt;
  icalrecurrencetype rule = icalrecurrencetype_from_string(prepared->text.c_str());
  if (rule.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  RuleReading reading = readingOf(rule);
  if (prepared->interval) reading.rule.interval = *prepared->interval;
  if (prepared->count) reading.rule.count = *prepared->count;
  return reading;
}

EventRules EventRules::read(icalcomponent* calendar, std::string_view bytes) {
  // Most files have no rule at all: they need no second reading.
  auto sameLetter = [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; };
  constexpr std::string_view name = "RRULE";
  if (std::search(bytes.begin(), bytes.end(), name.begin(), name.end(), sameLetter) == bytes.end()) return {};
  // Each VEVENT's RRULE values, in file order: BEGIN and END lines count
  // depth, and the rules of what a VEVENT holds are not its own.
  std::vector<std::vector<std::string>> raw;
  bool wide = false;
  size_t depth = 0;
  bool inCalendar = false, inEvent = false;
  ContentLineReader lines(bytes);
  ContentLine line;
  while (lines.next(line)) {
    if (!line.hasValue) continue;
    if (line.isNamed("BEGIN")) {
      std::string kind = componentNameOf(line);
      if (++depth == 1) inCalendar = kind == "VCALENDAR";
      if (depth == 2) inEvent = inCalendar && kind == "VEVENT";
      if (depth == 2 && inEvent) raw.emplace_back();
    } else if (line.isNamed("END")) {
      if (depth > 0 && --depth < 2) inEvent = false;
    } else if (inEvent && depth == 2 && line.isNamed("RRULE")) {
      std::optional<Prepared> prepared = prepare(trimmedValue(line.value));
      wide = wide || !prepared || prepared->rewritten;
      raw.back().emplace_back(line.value);
    }
  }
  EventRules rules;
  std::vector<icalcomponent*> events;
  for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VEVENT_COMPONENT);
       icalcomponent* event = icalcompiter_deref(&it); icalcompiter_next(&it))
    events.push_back(event);
  if (events.size() != raw.size()) {
    rules.refused_ = wide;
    return rules;
  }
  rules.paired_ = true;
  for (size_t i = 0; i < events.size(); ++i)
    if (!raw[i].empty()) rules.values_.emplace(events[i], std::move(raw[i]));
  return rules;
}

std::vector<RuleReading> EventRules::of(icalcomponent* event) const {
  std::vector<RuleReading> out;
  if (paired_) {
    auto found = values_.find(event);
    if (found == values_.end()) return out;
    for (const std::string& value : found->second)
      if (std::optional<RuleReading> rule = readRule(value)) out.push_back(std::move(*rule));
    return out;
  }
  if (refused_) return out;
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
    icalrecurrencetype rule = icalproperty_get_rrule(p);
    if (rule.freq != ICAL_NO_RECURRENCE) out.push_back(readingOf(rule));
  }
  return out;
}

}  // namespace tallowick::ical
