#include "tallowick/store/vdir/summary_cache.h"

#include <algorithm>
#include <new>

#include "tallowick/store/vdir/atomic_file.h"

namespace tallowick::ical {

bool changedBeforeCacheWrite(const FileStamp& file, int64_t cacheWrittenNs) {
  constexpr int64_t second = 1'000'000'000;
  // ctime too: it moves with every write and cannot be set back.
  int64_t changed = std::max(file.mtimeNs, file.ctimeNs);
  auto whole = [](int64_t ns) { return ns % second == 0; };
  auto seconds = [](int64_t ns) { return ns >= 0 ? ns / second : (ns - second + 1) / second; };
  if (whole(cacheWrittenNs) || whole(file.mtimeNs) || whole(file.ctimeNs))
    return seconds(changed) < seconds(cacheWrittenNs);
  return changed < cacheWrittenNs;
}

SummaryCache::SummaryCache(Env& env, std::string cacheFile, std::string root)
    : env_(env), cacheFile_(std::move(cacheFile)), root_(std::move(root)) {}

void SummaryCache::load() {
  if (read_) return;
  read_ = true;
  if (cacheFile_.empty()) return;
  std::optional<FileStamp> written = stampOf(env_, cacheFile_);
  if (!written) return;
  writtenNs_ = written->mtimeNs;
  std::optional<std::string> text = readWholeFile(env_, cacheFile_, maxCacheBytes);
  if (!text) {
    dirty_ = true;  // unreadable or too large: replace it
    return;
  }
  text_ = std::move(*text);
  std::optional<std::vector<CacheEntry>> entries;
  try {
    entries = parseCache(text_, root_);
  } catch (const std::bad_alloc&) {
    // A damaged count can ask for more than the machine has: no cache then.
  }
  // Out of order counts as damaged too: lookups rely on the order.
  if (!entries || std::adjacent_find(entries->begin(), entries->end(), [](const CacheEntry& a, const CacheEntry& b) {
                    return a.path >= b.path;
                  }) != entries->end()) {
    dirty_ = true;  // damaged or of another root: replace it
    return;
  }
  loaded_ = std::move(*entries);
  use_.assign(loaded_.size(), Use::unseen);
}

size_t SummaryCache::position(std::string_view path) {
  if (cursor_ < loaded_.size() && loaded_[cursor_].path == path) return cursor_;
  auto it = std::lower_bound(loaded_.begin(), loaded_.end(), path,
                             [](const CacheEntry& e, std::string_view p) { return e.path < p; });
  return it != loaded_.end() && it->path == path ? static_cast<size_t>(it - loaded_.begin()) : loaded_.size();
}

const FileSummary* SummaryCache::find(std::string_view path, const FileStamp& stamp) {
  load();
  if (!recorded_.empty()) {
    if (auto it = recorded_.find(path); it != recorded_.end())
      return it->second.stamp == stamp ? &it->second.summary : nullptr;
  }
  size_t i = position(path);
  if (i == loaded_.size()) return nullptr;
  cursor_ = i + 1;
  if (use_[i] == Use::replaced || !(loaded_[i].stamp == stamp) || !changedBeforeCacheWrite(stamp, writtenNs_))
    return nullptr;
  use_[i] = Use::seen;
  return &loaded_[i].summary;
}

void SummaryCache::record(std::string_view path, const FileStamp& stamp, FileSummary summary) {
  // Names with a tab or a line break would break the line format; such files
  // are simply read every time.
  if (path.find_first_of("\t\n\r") != std::string_view::npos) return;
  load();
  if (size_t i = position(path); i < loaded_.size()) use_[i] = Use::replaced;
  auto it = recorded_.find(path);
  if (it == recorded_.end()) {
    std::string key(path);
    it = recorded_.emplace(key, CacheEntry{}).first;
    it->second.path = it->first;
  }
  it->second.stamp = stamp;
  it->second.summary = std::move(summary);
  dirty_ = true;
}

void SummaryCache::save(bool visitedAll) {
  if (cacheFile_.empty() || !read_) return;
  // Entries not looked up after a visit of every file are of files now gone.
  if (visitedAll && std::find(use_.begin(), use_.end(), Use::unseen) != use_.end()) dirty_ = true;
  if (!dirty_) return;
  std::vector<CacheEntry> kept;
  kept.reserve(loaded_.size() + recorded_.size());
  for (size_t i = 0; i < loaded_.size(); ++i)
    if (use_[i] == Use::seen || (use_[i] == Use::unseen && !visitedAll)) kept.push_back(loaded_[i]);
  for (const auto& [path, e] : recorded_) kept.push_back(e);
  std::sort(kept.begin(), kept.end(), [](const CacheEntry& a, const CacheEntry& b) { return a.path < b.path; });
  try {
    if (size_t slash = cacheFile_.rfind('/'); slash != std::string::npos && slash > 0) {
      makeDirectories(env_, cacheFile_.substr(0, slash));
      removeStaleTempFiles(env_, cacheFile_.substr(0, slash));
    }
    replaceFileAtomically(env_, cacheFile_, serializeCache(root_, kept));
    dirty_ = false;
  } catch (const StoreError&) {
  }
}

}  // namespace tallowick::ical
