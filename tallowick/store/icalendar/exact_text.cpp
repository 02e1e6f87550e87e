#include "tallowick/store/icalendar/exact_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <vector>

#include "tallowick/store/icalendar/content_lines.h"

namespace tallowick::ical {
namespace {

constexpr std::array<icalproperty_kind, 3> textKinds = {ICAL_SUMMARY_PROPERTY, ICAL_DESCRIPTION_PROPERTY,
                                                        ICAL_LOCATION_PROPERTY};

struct RawProperty {
  icalproperty_kind kind;
  std::string value;  // unfolded, still escaped
};

struct RawComponent {
  icalcomponent_kind kind;
  std::vector<RawProperty> texts;
  std::optional<std::string> priority;  // the first PRIORITY's value
};

// The VEVENTs and VTODOs directly inside the VCALENDAR, with their own text
// properties (not those of their alarms), in file order.
std::vector<RawComponent> rawComponents(std::string_view bytes) {
  std::vector<RawComponent> out;
  size_t depth = 0;
  bool inCalendar = false;  // the outermost component is a VCALENDAR
  bool inWanted = false;    // in a VEVENT or VTODO of it (or in a component of one)
  ContentLineReader lines(bytes);
  ContentLine line;
  while (lines.next(line)) {
    if (!line.hasValue) continue;
    if (line.isNamed("BEGIN")) {
      std::string kind = upperAscii(trimmedValue(line.value));
      if (++depth == 1) inCalendar = kind == "VCALENDAR";
      bool event = kind == "VEVENT";
      if (depth == 2) {
        inWanted = inCalendar && (event || kind == "VTODO");
        if (inWanted) out.push_back({event ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT, {}, {}});
      }
    } else if (line.isNamed("END")) {
      if (depth > 0) --depth;
      // The end of an alarm inside the event goes back to the event's own
      // properties.
      if (depth < 2) inWanted = false;
    } else if (inWanted && depth == 2) {
      if (line.isNamed("PRIORITY") && !out.back().priority) out.back().priority = std::string(line.value);
      for (icalproperty_kind kind : textKinds)
        if (line.isNamed(icalproperty_kind_to_string(kind))) out.back().texts.push_back({kind, std::string(line.value)});
    }
  }
  return out;
}

const char* textOf(icalproperty* p) {
  icalvalue* value = icalproperty_get_value(p);
  const char* text = value ? icalvalue_get_text(value) : nullptr;
  return text ? text : "";
}

// How libical reads an escaped TEXT value: besides RFC 5545's escapes it
// takes \t, \r, \b, \f and \" as characters, any other escape as a blank,
// and drops a lone backslash at the end. Only used to pair its reading with
// the file's lines.
std::string libicalReading(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      out += raw[i];
      continue;
    }
    if (++i == raw.size()) break;
    switch (raw[i]) {
      case 'n': case 'N': out += '\n'; break;
      case 't': case 'T': out += '\t'; break;
      case 'r': case 'R': out += '\r'; break;
      case 'b': case 'B': out += '\b'; break;
      case 'f': case 'F': out += '\f'; break;
      case ';': case ',': case '"': case '\\': out += raw[i]; break;
      default: out += ' ';
    }
  }
  return out;
}

// Puts the exact values of one kind of property back into one component.
void restoreKind(icalcomponent* component, icalproperty_kind kind, const std::vector<RawProperty>& raw) {
  // Where libical neither trims, nor drops, nor reads an escape its own way,
  // its reading is the exact one already.
  if (std::none_of(raw.begin(), raw.end(), [&](const RawProperty& r) {
        return r.kind == kind && (r.value.empty() || trimmedValue(r.value).size() != r.value.size() ||
                                  (r.value.find('\\') != std::string::npos &&
                                   unescapeText(r.value) != libicalReading(r.value)));
      }))
    return;
  std::vector<icalproperty*> parsed;
  for (icalproperty* p = icalcomponent_get_first_property(component, kind); p;
       p = icalcomponent_get_next_property(component, kind))
    parsed.push_back(p);
  // Each content line of this kind, paired with what libical made of it:
  // a blank one was dropped, any other must read the same once trimmed.
  std::vector<std::pair<icalproperty*, std::string>> exact;
  size_t next = 0;
  bool restoresDropped = false;
  for (const RawProperty& r : raw) {
    if (r.kind != kind) continue;
    if (trimmedValue(r.value).empty()) {
      exact.emplace_back(nullptr, unescapeText(r.value));
      restoresDropped = true;
      continue;
    }
    if (next == parsed.size() || libicalReading(trimmedValue(r.value)) != textOf(parsed[next])) return;
    exact.emplace_back(parsed[next++], unescapeText(r.value));
  }
  if (next != parsed.size()) return;
  for (auto& [property, text] : exact) {
    if (!property) property = icalproperty_new(kind);
    else if (text == textOf(property)) continue;
    icalproperty_set_value(property, icalvalue_new_text(text.c_str()));
  }
  if (!restoresDropped) return;
  // Added properties go last; taking every one of this kind out and adding
  // them again in file order keeps "the first one" the file's first.
  for (icalproperty* p : parsed) icalcomponent_remove_property(component, p);
  for (auto& [property, text] : exact) icalcomponent_add_property(component, property);
}

}  // namespace

std::string unescapeText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
    if (raw[i] == '\\' && (next == 'n' || next == 'N')) {
      out += '\n';
      ++i;
    } else if (raw[i] == '\\' && (next == ';' || next == ',' || next == '\\')) {
      out += next;
      ++i;
    } else {
      out += raw[i];
    }
  }
  return out;
}

std::optional<int64_t> priorityValue(std::string_view raw) {
  raw = trimmedValue(raw);
  if (!raw.empty() && raw.front() == '+') raw.remove_prefix(1);
  int64_t value = 0;
  auto [end, error] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
  if (raw.empty() || error != std::errc() || end != raw.data() + raw.size()) return std::nullopt;
  return value;
}

std::optional<std::vector<std::optional<int64_t>>> restoreExactTexts(icalcomponent* calendar, std::string_view bytes) {
  std::vector<RawComponent> raw = rawComponents(bytes);
  std::optional<std::vector<std::optional<int64_t>>> priorities;
  for (icalcomponent_kind kind : {ICAL_VEVENT_COMPONENT, ICAL_VTODO_COMPONENT}) {
    std::vector<const RawComponent*> rawOfKind;
    for (const RawComponent& r : raw)
      if (r.kind == kind) rawOfKind.push_back(&r);
    std::vector<icalcomponent*> parsed;
    for (icalcomponent* c = icalcomponent_get_first_component(calendar, kind); c;
         c = icalcomponent_get_next_component(calendar, kind))
      parsed.push_back(c);
    if (parsed.size() != rawOfKind.size()) continue;
    for (size_t i = 0; i < parsed.size(); ++i)
      for (icalproperty_kind textKind : textKinds) restoreKind(parsed[i], textKind, rawOfKind[i]->texts);
    if (kind != ICAL_VTODO_COMPONENT) continue;
    priorities.emplace();
    for (const RawComponent* r : rawOfKind) priorities->push_back(r->priority ? priorityValue(*r->priority) : 0);
  }
  return priorities;
}

}  // namespace tallowick::ical
