#include "tallowick/store/vdir/vdir.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <optional>
#include <utility>

#include "tallowick/store/vdir/atomic_file.h"
#include "text/utf8.h"

namespace tallowick::ical {
namespace {

// Titles longer than this are no titles: the directory name stands in.
constexpr size_t maxDisplayNameBytes = 64 * 1024;

std::string titleOf(Env& env, const std::string& directory, const std::string& name) {
  if (std::optional<std::string> bytes = readWholeFile(env, directory + "/displayname", maxDisplayNameBytes)) {
    std::string first = bytes->substr(0, bytes->find('\n'));
    if (!first.empty() && first.back() == '\r') first.pop_back();
    if (!first.empty()) return vantrel::text::repairUtf8(first);
  }
  return vantrel::text::repairUtf8(name);
}

}  // namespace

FileStamp stampFrom(const struct stat& info) {
  constexpr int64_t ns = 1'000'000'000;
  return FileStamp{static_cast<int64_t>(info.st_size), info.st_mtim.tv_sec * ns + info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec * ns + info.st_ctim.tv_nsec, static_cast<uint64_t>(info.st_ino)};
}

std::vector<Collection> listCollections(Env& env, const std::string& root) {
  std::vector<Collection> found;
  std::vector<std::string> names;
  int handle = -1;
  if (env.listDirectory(root, names) != 0 || env.openDirectory(root, handle) != 0) return found;
  for (std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    struct stat info {};
    if (env.statAt(handle, name.c_str(), info) == 0 && S_ISDIR(info.st_mode)) found.push_back({std::move(name), {}});
  }
  env.closeDirectory(handle);
  std::sort(found.begin(), found.end(), [](const Collection& a, const Collection& b) { return a.name < b.name; });
  for (Collection& c : found) c.title = titleOf(env, root + "/" + c.name, c.name);
  return found;
}

std::optional<FileStamp> stampOf(Env& env, const std::string& path) {
  struct stat info {};
  if (env.stat(path, info) != 0) return std::nullopt;
  return stampFrom(info);
}

ItemScan::ItemScan(Env& env, const std::string& directory) : env_(&env) {
  std::vector<std::string> all;
  if (env.listDirectory(directory, all) != 0) return;
  std::vector<std::string_view> names;
  for (const std::string& name : all) {
    // The name is looked at first: other files cost no status call.
    if (name.empty() || name[0] == '.' || name.size() <= 4 || name.compare(name.size() - 4, 4, ".ics") != 0) continue;
    names.push_back(name);
  }
  if (names.empty() || env.openDirectory(directory, directory_) != 0) return;
  std::sort(names.begin(), names.end());
  size_t total = 0;
  for (std::string_view name : names) total += name.size() + 1;
  names_.reserve(total);
  nameOffsets_.reserve(names.size());
  for (std::string_view name : names) {
    nameOffsets_.push_back(names_.size());
    names_.append(name);
    names_.push_back('\0');
  }
  found_.resize(names.size());
}

ItemScan::ItemScan(ItemScan&& other) noexcept
    : env_(other.env_),
      directory_(std::exchange(other.directory_, -1)),
      names_(std::move(other.names_)),
      nameOffsets_(std::move(other.nameOffsets_)),
      found_(std::move(other.found_)) {}

ItemScan::~ItemScan() {
  if (directory_ >= 0) env_->closeDirectory(directory_);
}

void ItemScan::stat(size_t begin, size_t end) {
  for (size_t i = begin; i < end && i < found_.size(); ++i) {
    const char* name = names_.c_str() + nameOffsets_[i];
    struct stat info {};
    if (env_->statAt(directory_, name, info) != 0 || !S_ISREG(info.st_mode)) continue;
    found_[i] = {Item{name, stampFrom(info)}, true};
  }
}

std::vector<Item> ItemScan::take() {
  std::vector<Item> items;
  items.reserve(found_.size());
  for (Found& f : found_)
    if (f.isFile) items.push_back(std::move(f.item));
  found_.clear();
  return items;
}


}  // namespace tallowick::ical
