#include "tallowick/store/vdir/vdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <optional>
#include <utility>

#include "tallowick/store/vdir/atomic_file.h"
#include "text/utf8.h"

namespace tallowick::ical {
namespace {

// The status an entry's stamp and type need, symbolic links followed. statx
// with just these fields, and without syncing with a network server, is the
// cheapest status call there is; one is made per .ics file of the store on
// every run, so that an edit in place is never missed.
bool statusOf(int directory, const char* name, struct stat& info) {
  struct statx x {};
  constexpr unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_INO;
  if (::statx(directory, name, AT_STATX_DONT_SYNC, mask, &x) != 0) return ::fstatat(directory, name, &info, 0) == 0;
  if ((x.stx_mask & mask) != mask) return ::fstatat(directory, name, &info, 0) == 0;
  info = {};
  info.st_mode = x.stx_mode;
  info.st_size = static_cast<off_t>(x.stx_size);
  info.st_ino = x.stx_ino;
  info.st_mtim = {static_cast<time_t>(x.stx_mtime.tv_sec), static_cast<long>(x.stx_mtime.tv_nsec)};
  info.st_ctim = {static_cast<time_t>(x.stx_ctime.tv_sec), static_cast<long>(x.stx_ctime.tv_nsec)};
  return true;
}

// Entries, symbolic links followed, that `keep` turns into values, in byte
// order of name.
template <typename T, typename Keep>
std::vector<T> entries(const std::string& directory, Keep keep) {
  std::vector<T> found;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return found;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat info {};
    if (!statusOf(::dirfd(dir), entry->d_name, info)) continue;
    if (std::optional<T> value = keep(std::string(name), info)) found.push_back(std::move(*value));
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), [](const T& a, const T& b) { return a.name < b.name; });
  return found;
}

std::string titleOf(const std::string& directory, const std::string& name) {
  if (std::optional<std::string> bytes = readWholeFile(directory + "/displayname")) {
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

std::vector<Collection> listCollections(const std::string& root) {
  auto directories = entries<Collection>(root, [](const std::string& name, const struct stat& info) {
    return S_ISDIR(info.st_mode) ? std::optional<Collection>({name, {}}) : std::nullopt;
  });
  for (Collection& c : directories) c.title = titleOf(root + "/" + c.name, c.name);
  return directories;
}

std::optional<FileStamp> stampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return stampFrom(info);
}

ItemScan::ItemScan(const std::string& directory) {
  directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory_ < 0) return;
  // The stream reads from its own descriptor, so that the status calls can
  // go on with directory_ after it is closed.
  int forStream = ::dup(directory_);
  DIR* dir = forStream < 0 ? nullptr : ::fdopendir(forStream);
  if (!dir) {
    if (forStream >= 0) ::close(forStream);
    return;
  }
  std::string names;
  std::vector<std::pair<size_t, size_t>> spans;  // offset and length in names
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    // The name is looked at first: other files cost no status call.
    if (name.empty() || name[0] == '.' || name.size() <= 4 || name.substr(name.size() - 4) != ".ics") continue;
    spans.emplace_back(names.size(), name.size());
    names.append(name);
    names.push_back('\0');
  }
  ::closedir(dir);
  auto view = [&](const std::pair<size_t, size_t>& s) { return std::string_view(names).substr(s.first, s.second); };
  std::sort(spans.begin(), spans.end(), [&](const auto& a, const auto& b) { return view(a) < view(b); });
  names_.reserve(names.size());
  nameOffsets_.reserve(spans.size());
  for (const auto& span : spans) {
    nameOffsets_.push_back(names_.size());
    names_.append(view(span));
    names_.push_back('\0');
  }
  found_.resize(spans.size());
}

ItemScan::ItemScan(ItemScan&& other) noexcept
    : directory_(std::exchange(other.directory_, -1)),
      names_(std::move(other.names_)),
      nameOffsets_(std::move(other.nameOffsets_)),
      found_(std::move(other.found_)) {}

ItemScan::~ItemScan() {
  if (directory_ >= 0) ::close(directory_);
}

void ItemScan::stat(size_t begin, size_t end) {
  for (size_t i = begin; i < end && i < found_.size(); ++i) {
    const char* name = names_.c_str() + nameOffsets_[i];
    struct stat info {};
    if (!statusOf(directory_, name, info) || !S_ISREG(info.st_mode)) continue;
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

std::vector<Item> listItems(const std::string& directory) {
  ItemScan scan(directory);
  scan.stat(0, scan.size());
  return scan.take();
}

}  // namespace tallowick::ical
