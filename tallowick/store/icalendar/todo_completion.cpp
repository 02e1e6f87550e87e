#include "tallowick/store/icalendar/todo_completion.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <vector>

namespace tallowick::ical {
namespace {

// One content line, possibly folded over several physical lines.
struct ContentLine {
  size_t begin = 0;  // first byte
  size_t end = 0;    // one past the last line ending
  std::string name;  // upper case, without parameters
  std::string value; // unfolded, after the first colon
  std::string ending;
  bool hasParameters = false;
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<ContentLine> contentLines(std::string_view text) {
  std::vector<ContentLine> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    ContentLine line;
    line.begin = pos;
    std::string unfolded;
    for (bool first = true;; first = false) {
      if (!first && !(pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))) break;
      if (!first) ++pos;  // the folding blank
      size_t lf = text.find('\n', pos);
      size_t stop = lf == std::string_view::npos ? text.size() : lf;
      size_t contentEnd = stop > pos && text[stop - 1] == '\r' ? stop - 1 : stop;
      unfolded.append(text.substr(pos, contentEnd - pos));
      if (first) line.ending = std::string(text.substr(contentEnd, (lf == std::string_view::npos ? stop : lf + 1) - contentEnd));
      pos = lf == std::string_view::npos ? text.size() : lf + 1;
      if (lf == std::string_view::npos) break;
    }
    line.end = pos;
    size_t nameEnd = unfolded.find_first_of(";:");
    // libical reads "BEGIN :VTODO" as a BEGIN, so blanks after a name go.
    std::string_view name = std::string_view(unfolded).substr(0, nameEnd);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    line.name = upper(name);
    line.hasParameters = nameEnd != std::string::npos && unfolded[nameEnd] == ';';
    size_t colon = unfolded.find(':');
    if (colon != std::string::npos) line.value = unfolded.substr(colon + 1);
    lines.push_back(std::move(line));
  }
  return lines;
}

// The component a BEGIN or END line names, as libical tells them apart: a
// blank before the name or a parameter makes it some other component.
std::string componentName(const ContentLine& line) {
  if (line.hasParameters) return "?";
  std::string_view value = line.value;
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return upper(value);
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

struct Edit {
  size_t begin;
  size_t end;
  std::string replacement;
};

}  // namespace

std::optional<std::string> completeTodoText(std::string_view text, int todoIndex, std::string_view nowUtc) {
  std::vector<ContentLine> lines = contentLines(text);
  std::vector<std::string> stack;
  int seen = 0;
  size_t first = 0, last = 0;  // content lines of the wanted VTODO: BEGIN .. END
  bool found = false;
  for (size_t i = 0; i < lines.size() && !found; ++i) {
    const ContentLine& line = lines[i];
    if (line.name == "BEGIN") {
      std::string kind = componentName(line);
      if (kind == "VTODO" && stack.size() == 1 && stack[0] == "VCALENDAR") {
        if (seen++ == todoIndex) first = i;
      }
      stack.push_back(kind);
    } else if (line.name == "END" && !stack.empty()) {
      stack.pop_back();
      if (stack.size() == 1 && seen == todoIndex + 1 && componentName(line) == "VTODO") {
        last = i;
        found = true;
      }
    }
  }
  if (!found) return std::nullopt;

  const std::string eol = lines[first].ending.empty() ? "\r\n" : lines[first].ending;
  const std::array<std::string, 5> names{"STATUS", "COMPLETED", "PERCENT-COMPLETE", "LAST-MODIFIED", "SEQUENCE"};
  int64_t sequence = 0;
  // A SEQUENCE too large to count up stays as it is: it never wraps round.
  std::optional<std::string> saturated;
  std::array<bool, 5> written{};
  std::vector<Edit> edits;
  size_t insertAt = lines[last].begin;
  int depth = 0;
  auto newLine = [&](size_t which) {
    switch (which) {
      case 0: return "STATUS:COMPLETED" + eol;
      case 1: return "COMPLETED:" + std::string(nowUtc) + eol;
      case 2: return "PERCENT-COMPLETE:100" + eol;
      case 3: return "LAST-MODIFIED:" + std::string(nowUtc) + eol;
      default:
        if (saturated) return "SEQUENCE:" + *saturated + eol;
        return "SEQUENCE:" + std::to_string(sequence + 1) + eol;
    }
  };
  // SEQUENCE is read first, since its new value may be written before it.
  for (size_t i = first + 1; i < last; ++i) {
    if (lines[i].name == "BEGIN") ++depth;
    else if (lines[i].name == "END") --depth;
    else if (depth == 0 && lines[i].name == "SEQUENCE") {
      std::string v = trimmed(lines[i].value);
      int64_t parsed = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), parsed);
      bool whole = end == v.data() + v.size();
      if (ec == std::errc::result_out_of_range && whole && v[0] != '-') saturated = saturated.value_or(v);
      else if (ec == std::errc() && whole && parsed == std::numeric_limits<int64_t>::max()) saturated = v;
      else if (ec == std::errc() && parsed > sequence) sequence = parsed;
    }
  }
  depth = 0;
  bool insertFound = false;
  for (size_t i = first + 1; i < last; ++i) {
    const ContentLine& line = lines[i];
    if (line.name == "BEGIN") {
      // Properties go before the first subcomponent (a VALARM).
      if (depth == 0 && !insertFound) {
        insertAt = line.begin;
        insertFound = true;
      }
      ++depth;
      continue;
    }
    if (line.name == "END") {
      --depth;
      continue;
    }
    if (depth != 0) continue;
    auto it = std::find(names.begin(), names.end(), line.name);
    if (it == names.end()) continue;
    size_t which = static_cast<size_t>(it - names.begin());
    // A duplicate of the same property goes; the first is rewritten in place,
    // keeping its line ending.
    std::string replacement;
    if (!written[which]) {
      replacement = newLine(which);
      std::string lineEol = line.ending.empty() ? eol : line.ending;
      replacement.replace(replacement.size() - eol.size(), eol.size(), lineEol);
      written[which] = true;
    }
    edits.push_back({line.begin, line.end, std::move(replacement)});
  }
  std::string inserted;
  for (size_t which = 0; which < names.size(); ++which)
    if (!written[which]) inserted += newLine(which);
  if (!inserted.empty()) edits.push_back({insertAt, insertAt, std::move(inserted)});
  std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });

  std::string out;
  out.reserve(text.size() + 128);
  size_t pos = 0;
  for (const Edit& e : edits) {
    out.append(text.substr(pos, e.begin - pos));
    out.append(e.replacement);
    pos = e.end;
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace tallowick::ical
