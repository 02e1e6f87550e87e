#include "tallowick/store/ical/summary_cache.h"

#include <algorithm>

#include "tallowick/store/ical/atomic_file.h"

namespace tallowick::ical {

SummaryCache::SummaryCache(std::string cacheFile, std::string root)
    : cacheFile_(std::move(cacheFile)), root_(std::move(root)) {}

void SummaryCache::load() {
  if (loaded_) return;
  loaded_ = true;
  if (cacheFile_.empty()) return;
  std::optional<std::string> text = readWholeFile(cacheFile_);
  if (!text) return;
  text_ = std::move(*text);
  std::optional<std::vector<CacheEntry>> entries = parseCache(text_, root_);
  if (!entries) {
    dirty_ = true;  // damaged or of another root: replace it
    return;
  }
  entries_.reserve(entries->size());
  for (CacheEntry& e : *entries) entries_.emplace(e.path, Entry{e.stamp, std::move(e.summary), false});
}

const FileSummary* SummaryCache::find(std::string_view path, const FileStamp& stamp) {
  load();
  auto it = entries_.find(path);
  if (it == entries_.end() || !(it->second.stamp == stamp)) return nullptr;
  it->second.seen = true;
  return &it->second.summary;
}

void SummaryCache::record(std::string_view path, const FileStamp& stamp, FileSummary summary) {
  // Names with a tab or a line break would break the line format; such files
  // are simply read every time.
  if (path.find_first_of("\t\n\r") != std::string::npos) return;
  load();
  auto it = entries_.find(path);
  if (it == entries_.end()) it = entries_.emplace(recordedPaths_.emplace_back(path), Entry{}).first;
  it->second = Entry{stamp, std::move(summary), true};
  dirty_ = true;
}

void SummaryCache::save(bool visitedAll) {
  if (cacheFile_.empty() || !loaded_) return;
  if (visitedAll) {
    dirty_ = std::erase_if(entries_, [](const auto& e) { return !e.second.seen; }) > 0 || dirty_;
  }
  if (!dirty_) return;
  std::vector<CacheEntry> sorted;
  sorted.reserve(entries_.size());
  for (const auto& [path, e] : entries_) sorted.push_back({path, e.stamp, e.summary});
  std::sort(sorted.begin(), sorted.end(), [](const CacheEntry& a, const CacheEntry& b) { return a.path < b.path; });
  try {
    if (size_t slash = cacheFile_.rfind('/'); slash != std::string::npos && slash > 0)
      makeDirectories(cacheFile_.substr(0, slash));
    replaceFileAtomically(cacheFile_, serializeCache(root_, sorted));
    dirty_ = false;
  } catch (const StoreError&) {
  }
}

}  // namespace tallowick::ical
