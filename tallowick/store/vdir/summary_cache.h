#pragma once
// The per-file summaries of one store root, kept in one cache file between
// runs ($XDG_CACHE_HOME/vantrel/). An entry counts only while its file has the
// same stamp; a missing, stale or damaged cache is rebuilt silently.

#include "tallowick/store/vdir/layer.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tallowick/store/vdir/cache_format.h"

namespace tallowick::ical {

// Whether a file with that stamp was last changed strictly before a cache
// written at `cacheWrittenNs`, so that a later change would have to show in
// the stamp. This is the racy-timestamp rule of git's index: a file changed
// in the same tick as the cache write can change again within that tick,
// same size, and keep its stamp. A time of whole seconds is taken as coming
// from a file system with 1-second timestamps (ext2, FAT, some network
// mounts); the comparison is then made in whole seconds.
bool changedBeforeCacheWrite(const FileStamp& file, int64_t cacheWrittenNs);

class SummaryCache {
 public:
  // The cache file is read on first use; an empty `cacheFile` keeps nothing
  // between runs. `env` must outlive the cache.
  SummaryCache(Env& env, std::string cacheFile, std::string root);

  // A cache file larger than this is no cache of ours (a store of a million
  // files makes about 100 MB, one of 10,000 about 1 MB): it is rebuilt.
  static constexpr size_t maxCacheBytes = size_t{256} << 20;

  // Reads the cache file unless done already; find() and record() call it,
  // but a caller may do it early on another thread while nothing else uses
  // the cache.
  void load();

  // The summary recorded for `path` (collection/name) if its stamp is still
  // `stamp` and the file was changed before the cache was written (see
  // changedBeforeCacheWrite); valid until the next record().
  const FileSummary* find(std::string_view path, const FileStamp& stamp);

  void record(std::string_view path, const FileStamp& stamp, FileSummary summary);

  // Writes the cache file if anything changed. With `visitedAll`, every file
  // of the store was looked up, so entries not looked up are of files that
  // are gone. Failing to write is not an error: the next run rebuilds.
  void save(bool visitedAll);

 private:
  enum class Use : char { unseen, seen, replaced };

  Env& env_;
  std::string cacheFile_;
  std::string root_;
  // The cache file as read, its entries in path order (paths point into the
  // text), and whether each was looked up or replaced in this run. Lookups
  // come in path order, so `cursor_` usually finds the next one at once.
  std::string text_;
  std::vector<CacheEntry> loaded_;
  std::vector<Use> use_;
  size_t cursor_ = 0;
  // Summaries recorded in this run.
  std::map<std::string, CacheEntry, std::less<>> recorded_;
  bool dirty_ = false;
  bool read_ = false;
  // The modification time of the cache file read; taken before reading it,
  // so that a cache replaced in between only makes entries look newer.
  int64_t writtenNs_ = 0;

  // The index of `path` in loaded_, or loaded_.size().
  size_t position(std::string_view path);
};

}  // namespace tallowick::ical
