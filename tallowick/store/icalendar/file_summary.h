#pragma once
// What the cache keeps about one file: enough to know, without reading it,
// that the file has nothing for a query, and its open todos as they read, so
// listing reminders parses nothing. Only ever used under the file stamp it was
// made from; events that may overlap a window are always read and parsed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/vdir/vdir.h"

namespace tallowick::ical {

struct FileSummary {
  bool parses = false;
  bool hasIncompleteTodos = false;
  bool hasEvents = false;
  bool unbounded = false;   // a rule without end: no last end
  int64_t firstStart = 0;   // seconds since the epoch
  int64_t lastEnd = 0;
  std::vector<TodoItem> openTodos;  // neither completed nor cancelled, in file order
  bool operator==(const FileSummary&) const = default;
};

// The summary of a parsed file, or of one that does not parse.
FileSummary summarize(const std::optional<CalendarFile>& file);

// Whether the file may have an occurrence overlapping [start, end]. Spans are
// widened by more than a day on both sides: floating times and dates move with
// the local zone, which may differ from the one the summary was made in.
bool mayOverlap(const FileSummary& summary, Instant start, Instant end);

// A cache entry: the file (collection/name under the root), its stamp then,
// and its summary. The path points into the parsed text or the caller's
// storage, so loading a cache allocates no string per file.
struct CacheEntry {
  std::string_view path;
  FileStamp stamp;
  FileSummary summary;
};

// The text of a cache file for `root`, and back. Reading gives nothing when
// the text is not a complete cache for that root.
std::string serializeCache(const std::string& root, const std::vector<CacheEntry>& entries);
std::optional<std::vector<CacheEntry>> parseCache(std::string_view text, const std::string& root);

}  // namespace tallowick::ical
