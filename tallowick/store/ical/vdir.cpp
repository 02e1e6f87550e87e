#include "tallowick/store/ical/vdir.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "tallowick/store/ical/atomic_file.h"
#include "text/utf8.h"

namespace tallowick::ical {
namespace {

// Entry names, symbolic links followed, that pass `keep`.
template <typename Keep>
std::vector<std::string> entries(const std::string& directory, Keep keep) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat info {};
    if (::stat((directory + "/" + name).c_str(), &info) != 0) continue;
    if (keep(name, info)) names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
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

std::vector<Collection> listCollections(const std::string& root) {
  std::vector<Collection> collections;
  for (std::string& name : entries(root, [](const std::string&, const struct stat& info) { return S_ISDIR(info.st_mode); })) {
    std::string title = titleOf(root + "/" + name, name);
    collections.push_back({std::move(name), std::move(title)});
  }
  return collections;
}

std::vector<std::string> listItems(const std::string& directory) {
  return entries(directory, [](const std::string& name, const struct stat& info) {
    return S_ISREG(info.st_mode) && name.size() > 4 && name.compare(name.size() - 4, 4, ".ics") == 0;
  });
}

}  // namespace tallowick::ical
