#include "tallowick/store/vdir/cache_format.h"

#include <array>
#include <charconv>
#include <type_traits>

namespace tallowick::ical {
namespace {

// 5: files whose events are too costly to expand are marked (those of 4
// were read again on every listing), malformed escapes in texts are kept as
// written, and spans hold RDATE periods, INTERVAL and COUNT at full width and
// Windows zone names, and due dates X-WR-TIMEZONE, so an older cache is
// rebuilt rather than trusted.
constexpr std::string_view header = "vantrel-calendar-index 5\n";

// Splits `line` at tabs into exactly `count` fields; no vector, since a store
// has one line per file.
template <size_t count>
bool split(std::string_view line, std::array<std::string_view, count>& out) {
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t tab = line.find('\t', pos);
    if ((tab == std::string_view::npos) != (i + 1 == count)) return false;
    out[i] = line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
    pos = tab + 1;
  }
  return true;
}

// Decimal digits, with a minus sign first for signed types, that fit in T;
// what std::from_chars accepts, without its generality: eight numbers a file
// are read on every run, and this was a fifth of the time a cache took to load.
template <typename T>
bool number(std::string_view text, T& value) {
  bool negative = std::is_signed_v<T> && !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return false;
  T n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    T digit = static_cast<T>(c - '0');
    if (__builtin_mul_overflow(n, T{10}, &n) || (negative ? __builtin_sub_overflow(n, digit, &n)
                                                          : __builtin_add_overflow(n, digit, &n)))
      return false;
  }
  value = n;
  return true;
}

template <typename T>
void appendField(std::string& out, T value) {
  char digits[24];
  out += '\t';
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Texts may hold anything, tabs and line breaks included: "-" is absent, "+"
// starts a present text with backslash, tab, CR and LF escaped.
void appendText(std::string& out, const std::optional<std::string>& text) {
  if (!text) {
    out += '-';
    return;
  }
  out += '+';
  for (char c : *text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

bool readText(std::string_view field, std::optional<std::string>& text) {
  if (field == "-") {
    text.reset();
    return true;
  }
  if (field.empty() || field[0] != '+') return false;
  std::string value;
  value.reserve(field.size() - 1);
  for (size_t i = 1; i < field.size(); ++i) {
    if (field[i] != '\\') {
      value += field[i];
      continue;
    }
    if (++i == field.size()) return false;
    switch (field[i]) {
      case '\\': value += '\\'; break;
      case 't': value += '\t'; break;
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      default: return false;
    }
  }
  text = std::move(value);
  return true;
}

// A due date: "-" when there is none, else its six numeric fields separated
// by commas, each empty when absent.
void appendDue(std::string& out, const std::optional<DateComponents>& due) {
  if (!due) {
    out += '-';
    return;
  }
  const std::optional<int>* parts[] = {&due->year, &due->month, &due->day, &due->hour, &due->minute, &due->second};
  for (size_t i = 0; i < 6; ++i) {
    if (i > 0) out += ',';
    if (*parts[i]) out += std::to_string(**parts[i]);
  }
}

bool readDue(std::string_view field, std::optional<DateComponents>& due) {
  if (field == "-") {
    due.reset();
    return true;
  }
  DateComponents c;
  std::optional<int>* parts[] = {&c.year, &c.month, &c.day, &c.hour, &c.minute, &c.second};
  for (size_t i = 0; i < 6; ++i) {
    size_t comma = field.find(',');
    if ((comma == std::string_view::npos) != (i == 5)) return false;
    std::string_view part = field.substr(0, comma);
    if (!part.empty()) {
      int value = 0;
      if (!number(part, value)) return false;
      *parts[i] = value;
    }
    if (comma != std::string_view::npos) field.remove_prefix(comma + 1);
  }
  due = std::move(c);
  return true;
}

void appendTodo(std::string& out, const TodoItem& todo) {
  out += std::to_string(todo.index);
  out += '\t';
  out += std::to_string(todo.priority);
  out += '\t';
  appendDue(out, todo.due);
  out += '\t';
  appendText(out, todo.due ? todo.due->timeZone : std::nullopt);
  out += '\t';
  appendText(out, todo.title);
  out += '\t';
  appendText(out, todo.notes);
  out += '\n';
}

bool readTodo(std::string_view line, TodoItem& todo) {
  std::array<std::string_view, 6> f;
  std::optional<std::string> zone;
  if (!split(line, f) || !number(f[0], todo.index) || !number(f[1], todo.priority) || !readDue(f[2], todo.due) ||
      !readText(f[3], zone) || !readText(f[4], todo.title) || !readText(f[5], todo.notes))
    return false;
  if (zone && !todo.due) return false;
  if (todo.due) todo.due->timeZone = std::move(zone);
  return true;
}

// The next line of `text` without its line feed; nothing when cut short.
std::optional<std::string_view> nextLine(std::string_view& text) {
  size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return std::nullopt;
  std::string_view line = text.substr(0, lf);
  text.remove_prefix(lf + 1);
  return line;
}

}  // namespace

std::string serializeCache(const std::string& root, const std::vector<CacheEntry>& entries) {
  std::string out(header);
  out += root + "\n";
  for (const CacheEntry& e : entries) {
    const FileSummary& s = e.summary;
    int flags = (s.parses ? 1 : 0) | (s.hasIncompleteTodos ? 2 : 0) | (s.hasEvents ? 4 : 0) | (s.unbounded ? 8 : 0) |
                (s.overBudget ? 16 : 0);
    out += e.path;
    for (int64_t n : {e.stamp.size, e.stamp.mtimeNs, e.stamp.ctimeNs}) appendField(out, n);
    appendField(out, e.stamp.inode);
    appendField(out, flags);
    for (int64_t n : {s.firstStart, s.lastEnd}) appendField(out, n);
    appendField(out, s.openTodos.size());
    out += '\n';
    for (const TodoItem& todo : s.openTodos) appendTodo(out, todo);
  }
  out += "end " + std::to_string(entries.size()) + "\n";
  return out;
}

std::optional<std::vector<CacheEntry>> parseCache(std::string_view text, const std::string& root) {
  if (text.substr(0, header.size()) != header) return std::nullopt;
  text.remove_prefix(header.size());
  if (text.substr(0, root.size() + 1) != root + "\n") return std::nullopt;
  text.remove_prefix(root.size() + 1);
  std::vector<CacheEntry> entries;
  // About a hundred bytes a file: one allocation instead of a dozen regrowths.
  entries.reserve(text.size() / 96 + 1);
  while (std::optional<std::string_view> line = nextLine(text)) {
    if (line->substr(0, 4) == "end " && line->find('\t') == std::string_view::npos) {
      size_t count = 0;
      if (!text.empty() || !number(line->substr(4), count) || count != entries.size()) return std::nullopt;
      return entries;
    }
    std::array<std::string_view, 9> f;
    CacheEntry& e = entries.emplace_back();
    int flags = 0;
    size_t todos = 0;
    if (!split(*line, f) || !number(f[1], e.stamp.size) || !number(f[2], e.stamp.mtimeNs) ||
        !number(f[3], e.stamp.ctimeNs) || !number(f[4], e.stamp.inode) || !number(f[5], flags) ||
        !number(f[6], e.summary.firstStart) || !number(f[7], e.summary.lastEnd) || !number(f[8], todos))
      return std::nullopt;
    e.path = f[0];
    e.summary.parses = flags & 1;
    e.summary.hasIncompleteTodos = flags & 2;
    e.summary.hasEvents = flags & 4;
    e.summary.unbounded = flags & 8;
    e.summary.overBudget = flags & 16;
    if (todos > text.size()) return std::nullopt;  // a damaged count, not a reason to allocate
    e.summary.openTodos.resize(todos);
    for (TodoItem& todo : e.summary.openTodos) {
      std::optional<std::string_view> todoLine = nextLine(text);
      if (!todoLine || !readTodo(*todoLine, todo)) return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace tallowick::ical
