#include "tallowick/store/ical/vdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "tallowick/store/ical/atomic_file.h"
#include "text/utf8.h"

namespace tallowick::ical {
namespace {

// Entries, symbolic links followed, that `keep` turns into values, in byte
// order of name.
template <typename T, typename Keep>
std::vector<T> entries(const std::string& directory, Keep keep) {
  std::vector<T> found;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return found;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0) continue;
    if (std::optional<T> value = keep(name, info)) found.push_back(std::move(*value));
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

std::vector<Item> listItems(const std::string& directory) {
  return entries<Item>(directory, [](const std::string& name, const struct stat& info) -> std::optional<Item> {
    if (!S_ISREG(info.st_mode) || name.size() <= 4 || name.compare(name.size() - 4, 4, ".ics") != 0) return std::nullopt;
    return Item{name, stampFrom(info)};
  });
}

}  // namespace tallowick::ical
