#pragma once
// The vdir layout that vdirsyncer, khal and todoman share: a root directory
// whose subdirectories are collections, each holding one item per .ics file
// and optionally a `displayname` file with its title.

#include "tallowick/store/vdir/layer.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/vdir/env.h"

namespace tallowick::ical {

struct Collection {
  std::string name;   // directory name
  std::string title;  // first line of `displayname`, else the directory name
};

// Subdirectories of `root` whose names do not start with a dot, in byte order
// of name. A missing or unreadable root has none.
std::vector<Collection> listCollections(Env& env, const std::string& root);

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
std::optional<FileStamp> stampOf(Env& env, const std::string& path);

// The regular files in `directory` whose names end in exactly ".ics", in byte
// order of name, found in two steps: the directory is read first, then each
// name gets one status call. The status calls are most of the time a listing
// takes, and one collection can hold most of a store, so they are made in
// ranges that several threads may take at once.
class ItemScan {
 public:
  // Reads the names; a missing or unreadable directory has none.
  ItemScan(Env& env, const std::string& directory);
  ItemScan(ItemScan&& other) noexcept;
  ItemScan& operator=(ItemScan&&) = delete;
  ~ItemScan();

  // How many names the directory has that may be items.
  size_t size() const { return found_.size(); }

  // The status calls for names [begin, end). Ranges that do not overlap may
  // be taken by different threads at the same time.
  void stat(size_t begin, size_t end);

  // The items, once every name's status call is made.
  std::vector<Item> take();

 private:
  struct Found {
    Item item;
    bool isFile = false;
  };
  Env* env_;
  int directory_ = -1;
  std::string names_;                // each name followed by a NUL, in byte order
  std::vector<size_t> nameOffsets_;  // where each name starts in names_
  std::vector<Found> found_;
};

}  // namespace tallowick::ical
