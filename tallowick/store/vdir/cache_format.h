#pragma once
// The text of the summary cache: one line per file with its stamp and
// summary, then one line per open todo; "end <count>" last, so that a cache
// cut short reads as damaged.

#include "tallowick/store/vdir/layer.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/icalendar/file_summary.h"
#include "tallowick/store/vdir/vdir.h"

namespace tallowick::ical {

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
