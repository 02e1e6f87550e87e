#include "tallowick/store/icalendar/todo_completion.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <vector>

#include "tallowick/store/icalendar/content_lines.h"

namespace tallowick::ical {
namespace {

// One content line, kept: the reader's views last only until its next line.
struct Line {
  size_t begin = 0;
  size_t end = 0;
  std::string name;  // upper case
  std::string value;
  std::string ending;
  std::string component;  // what a BEGIN or END line names
};

std::vector<Line> contentLines(std::string_view text) {
  std::vector<Line> lines;
  ContentLineReader reader(text);
  ContentLine line;
  while (reader.next(line)) {
    Line& kept = lines.emplace_back();
    kept.begin = line.begin;
    kept.end = line.end;
    kept.name = upperAscii(line.name);
    kept.value = std::string(line.value);
    kept.ending = std::string(line.ending);
    if (kept.name == "BEGIN" || kept.name == "END") kept.component = componentNameOf(line);
  }
  return lines;
}


struct Edit {
  size_t begin;
  size_t end;
  std::string replacement;
};

}  // namespace

std::optional<std::string> completeTodoText(std::string_view text, int todoIndex, std::string_view nowUtc) {
  std::vector<Line> lines = contentLines(text);
  std::vector<std::string> stack;
  int seen = 0;
  size_t first = 0, last = 0;  // content lines of the wanted VTODO: BEGIN .. END
  bool found = false;
  for (size_t i = 0; i < lines.size() && !found; ++i) {
    const Line& line = lines[i];
    if (line.name == "BEGIN") {
      const std::string& kind = line.component;
      if (kind == "VTODO" && stack.size() == 1 && stack[0] == "VCALENDAR") {
        if (seen++ == todoIndex) first = i;
      }
      stack.push_back(kind);
    } else if (line.name == "END" && !stack.empty()) {
      stack.pop_back();
      if (stack.size() == 1 && seen == todoIndex + 1 && line.component == "VTODO") {
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
      // Read as readers read it, from the digits it starts with, whatever
      // follows them.
      std::string v(trimmedValue(lines[i].value));
      int64_t parsed = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), parsed);
      bool positive = !v.empty() && v[0] != '-';
      if ((ec == std::errc::result_out_of_range && positive) ||
          (ec == std::errc() && parsed == std::numeric_limits<int64_t>::max()))
        saturated = saturated.value_or(v);
      else if (ec == std::errc() && parsed > sequence)
        sequence = parsed;
    }
  }
  depth = 0;
  bool insertFound = false;
  for (size_t i = first + 1; i < last; ++i) {
    const Line& line = lines[i];
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
