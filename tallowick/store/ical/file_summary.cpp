#include "tallowick/store/ical/file_summary.h"

#include <charconv>

#include "tallowick/store/ical/event_expansion.h"

namespace tallowick::ical {
namespace {

constexpr std::string_view header = "vantrel-calendar-index 1\n";
constexpr int64_t marginSeconds = 27 * 3600;

int64_t secondsOf(Instant t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// Splits `line` at tabs into exactly `count` fields.
std::optional<std::vector<std::string_view>> fields(std::string_view line, size_t count) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  for (;;) {
    size_t tab = line.find('\t', pos);
    out.push_back(line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos));
    if (tab == std::string_view::npos) break;
    pos = tab + 1;
  }
  if (out.size() != count) return std::nullopt;
  return out;
}

template <typename T>
bool number(std::string_view text, T& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

FileSummary summarize(const std::optional<CalendarFile>& file) {
  FileSummary s;
  if (!file) return s;
  s.parses = true;
  for (const TodoItem& todo : file->todos())
    if (!todo.isCompleted && !todo.isCancelled) s.hasIncompleteTodos = true;
  EventSpan span = file->eventSpan();
  s.hasEvents = span.any;
  s.unbounded = span.unbounded;
  if (span.any) {
    s.firstStart = secondsOf(span.first);
    s.lastEnd = span.unbounded ? s.firstStart : secondsOf(span.last);
  }
  return s;
}

bool mayOverlap(const FileSummary& s, Instant start, Instant end) {
  if (!s.parses || !s.hasEvents) return false;
  if (s.firstStart - marginSeconds > secondsOf(end)) return false;
  return s.unbounded || s.lastEnd + marginSeconds >= secondsOf(start);
}

std::string serializeCache(const std::string& root, const std::vector<CacheEntry>& entries) {
  std::string out(header);
  out += root + "\n";
  for (const CacheEntry& e : entries) {
    const FileSummary& s = e.summary;
    int flags = (s.parses ? 1 : 0) | (s.hasIncompleteTodos ? 2 : 0) | (s.hasEvents ? 4 : 0) | (s.unbounded ? 8 : 0);
    out += e.path + "\t" + std::to_string(e.stamp.size) + "\t" + std::to_string(e.stamp.mtimeNs) + "\t" +
           std::to_string(e.stamp.ctimeNs) + "\t" + std::to_string(e.stamp.inode) + "\t" + std::to_string(flags) +
           "\t" + std::to_string(s.firstStart) + "\t" + std::to_string(s.lastEnd) + "\n";
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
  while (!text.empty()) {
    size_t lf = text.find('\n');
    if (lf == std::string_view::npos) return std::nullopt;  // cut short
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf + 1);
    if (line.substr(0, 4) == "end ") {
      size_t count = 0;
      if (!text.empty() || !number(line.substr(4), count) || count != entries.size()) return std::nullopt;
      return entries;
    }
    auto f = fields(line, 8);
    if (!f) return std::nullopt;
    CacheEntry e;
    e.path = std::string((*f)[0]);
    int flags = 0;
    if (!number((*f)[1], e.stamp.size) || !number((*f)[2], e.stamp.mtimeNs) || !number((*f)[3], e.stamp.ctimeNs) ||
        !number((*f)[4], e.stamp.inode) || !number((*f)[5], flags) || !number((*f)[6], e.summary.firstStart) ||
        !number((*f)[7], e.summary.lastEnd))
      return std::nullopt;
    e.summary.parses = flags & 1;
    e.summary.hasIncompleteTodos = flags & 2;
    e.summary.hasEvents = flags & 4;
    e.summary.unbounded = flags & 8;
    entries.push_back(std::move(e));
  }
  return std::nullopt;
}

}  // namespace tallowick::ical
