#include "tallowick/store/ical/vdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <optional>

#include "tallowick/store/ical/atomic_file.h"
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

// Entries whose names `wanted` accepts, symbolic links followed, that `keep`
// turns into values, in byte order of name.
template <typename T, typename Wanted, typename Keep>
std::vector<T> entries(const std::string& directory, Wanted wanted, Keep keep) {
  std::vector<T> found;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return found;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.empty() || name[0] == '.' || !wanted(name)) continue;
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
  auto any = [](std::string_view) { return true; };
  auto directories = entries<Collection>(root, any, [](const std::string& name, const struct stat& info) {
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

std::vector<Item> listItems(const std::string& directory) {
  // The name is looked at first: other files cost no status call.
  auto ics = [](std::string_view name) { return name.size() > 4 && name.substr(name.size() - 4) == ".ics"; };
  return entries<Item>(directory, ics, [](const std::string& name, const struct stat& info) -> std::optional<Item> {
    if (!S_ISREG(info.st_mode)) return std::nullopt;
    return Item{name, stampFrom(info)};
  });
}

}  // namespace tallowick::ical
