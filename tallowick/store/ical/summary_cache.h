#pragma once
// The per-file summaries of one store root, kept in one cache file between
// runs ($XDG_CACHE_HOME/vantrel/). An entry counts only while its file has the
// same stamp; a missing, stale or damaged cache is rebuilt silently.

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tallowick/store/ical/file_summary.h"

namespace tallowick::ical {

class SummaryCache {
 public:
  // The cache file is read on first use; an empty `cacheFile` keeps nothing
  // between runs.
  SummaryCache(std::string cacheFile, std::string root);

  // Reads the cache file unless done already; find() and record() call it,
  // but a caller may do it early on another thread while nothing else uses
  // the cache.
  void load();

  // The summary recorded for `path` (collection/name) if its stamp is still
  // `stamp`; valid until the next record().
  const FileSummary* find(std::string_view path, const FileStamp& stamp);

  void record(std::string_view path, const FileStamp& stamp, FileSummary summary);

  // Writes the cache file if anything changed. With `visitedAll`, every file
  // of the store was looked up, so entries not looked up are of files that
  // are gone. Failing to write is not an error: the next run rebuilds.
  void save(bool visitedAll);

 private:
  struct Entry {
    FileStamp stamp;
    FileSummary summary;
    bool seen = false;
  };
  std::string cacheFile_;
  std::string root_;
  // Keys point into the loaded text or into paths recorded since.
  std::string text_;
  std::deque<std::string> recordedPaths_;
  std::unordered_map<std::string_view, Entry> entries_;
  bool dirty_ = false;
  bool loaded_ = false;
};

}  // namespace tallowick::ical
