#pragma once
// The vdir layout that vdirsyncer, khal and todoman share: a root directory
// whose subdirectories are collections, each holding one item per .ics file
// and optionally a `displayname` file with its title.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::ical {

struct Collection {
  std::string name;   // directory name
  std::string title;  // first line of `displayname`, else the directory name
};

// Subdirectories of `root` whose names do not start with a dot, in byte order
// of name. A missing or unreadable root has none.
std::vector<Collection> listCollections(const std::string& root);

// What identifies one version of a file on disk. Any write changes ctime, even
// one that puts size and mtime back.
struct FileStamp {
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of a file whose status is `info`.
FileStamp stampFrom(const struct stat& info);

struct Item {
  std::string name;
  FileStamp stamp;
};

// The stamp of the file at `path` (symbolic links followed), if it exists.
std::optional<FileStamp> stampOf(const std::string& path);

// The regular files in `directory` whose names end in exactly ".ics", in byte
// order of name.
std::vector<Item> listItems(const std::string& directory);

}  // namespace tallowick::ical
