#pragma once
// The vdir layout that vdirsyncer, khal and todoman share: a root directory
// whose subdirectories are collections, each holding one item per .ics file
// and optionally a `displayname` file with its title.

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

// Names of the regular files in `directory` ending in exactly ".ics", in byte
// order.
std::vector<std::string> listItems(const std::string& directory);

}  // namespace tallowick::ical
