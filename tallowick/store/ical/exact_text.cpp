#include "tallowick/store/ical/exact_text.h"

#include <array>
#include <cctype>
#include <charconv>
#include <vector>

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

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The logical lines of a file: line ends (CRLF or LF) removed, folded lines
// joined (a line break followed by a space or tab).
std::vector<std::string> unfoldedLines(std::string_view bytes) {
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    size_t lf = bytes.find('\n');
    std::string_view line = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!lines.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t'))
      lines.back().append(line.substr(1));
    else
      lines.emplace_back(line);
  }
  return lines;
}

// Splits a content line into its name and its value; the value starts after
// the first colon outside a quoted parameter value.
bool splitLine(std::string_view line, std::string& name, std::string_view& value) {
  size_t nameEnd = line.find_first_of(";:");
  if (nameEnd == std::string_view::npos) return false;
  name = upper(line.substr(0, nameEnd));
  bool quoted = false;
  for (size_t i = nameEnd; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ':' && !quoted) {
      value = line.substr(i + 1);
      return true;
    }
  }
  return false;
}

// The VEVENTs and VTODOs directly inside the VCALENDAR, with their own text
// properties (not those of their alarms), in file order.
std::vector<RawComponent> rawComponents(std::string_view bytes) {
  std::vector<RawComponent> out;
  std::vector<std::string> open;
  bool inWanted = false;
  for (const std::string& line : unfoldedLines(bytes)) {
    std::string name;
    std::string_view value;
    if (!splitLine(line, name, value)) continue;
    if (name == "BEGIN") {
      std::string kind = upper(trimmed(value));
      open.push_back(kind);
      inWanted = open.size() == 2 && open[0] == "VCALENDAR" && (kind == "VEVENT" || kind == "VTODO");
      if (inWanted) out.push_back({kind == "VEVENT" ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT, {}, {}});
    } else if (name == "END") {
      if (!open.empty()) open.pop_back();
      inWanted = false;
    } else if (inWanted && open.size() == 2) {
      if (name == "PRIORITY" && !out.back().priority) out.back().priority = std::string(value);
      for (icalproperty_kind kind : textKinds)
        if (name == icalproperty_kind_to_string(kind)) out.back().texts.push_back({kind, std::string(value)});
    }
  }
  return out;
}

const char* textOf(icalproperty* p) {
  icalvalue* value = icalproperty_get_value(p);
  const char* text = value ? icalvalue_get_text(value) : nullptr;
  return text ? text : "";
}

// Puts the exact values of one kind of property back into one component.
void restoreKind(icalcomponent* component, icalproperty_kind kind, const std::vector<RawProperty>& raw) {
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
    if (trimmed(r.value).empty()) {
      exact.emplace_back(nullptr, unescapeText(r.value));
      restoresDropped = true;
      continue;
    }
    if (next == parsed.size() || unescapeText(trimmed(r.value)) != textOf(parsed[next])) return;
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

std::optional<int64_t> priorityValue(std::string_view raw) {
  raw = trimmed(raw);
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
