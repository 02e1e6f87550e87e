#pragma once
// Writing files so that a reader or a crash never sees half of one, and so
// that a write never replaces a version it did not read: the bytes go to a
// temporary file in the same directory (a dot name that does not end in .ics,
// so vdir readers skip it), are fsynced, compared once more against the file
// they replace, and swapped into place.

#include "tallowick/store/vdir/layer.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tallowick/store/vdir/env.h"

namespace tallowick::ical {

// One version of a file: its bytes, and its status at the end of the read.
struct FileVersion {
  std::string bytes;
  struct stat info {};
};

// The file at `path` (symbolic links followed), or nothing when it cannot be
// read as a regular file of at most `limit` bytes.
std::optional<FileVersion> readVersion(Env& fs, const std::string& path, size_t limit = Env::unlimited);

// Whether `info` is the status of that same version (device, inode, size,
// modification and change times to the nanosecond).
bool sameVersion(const struct stat& a, const struct stat& b);

// Replaces the file that `expected` was read from with `bytes`, keeping its
// owner, group and mode. A symbolic link at `path` stays: the file it leads to
// is replaced, in its own directory. Throws StoreError(`changed`) and writes
// nothing when the file is no longer the version read, StoreError naming the
// file on any other failure; the old file is then left as it was.
void replaceFileIfUnchanged(Env& fs, const std::string& path, const FileVersion& expected,
                            std::string_view bytes, const std::string& changed);

// Creates `path` only if nothing of that name exists (not even a dangling
// link), with the mode the umask gives: returns false, having written
// nothing, when something does. Throws StoreError on other failures.
bool createFileExclusively(Env& fs, const std::string& path, std::string_view bytes);

// Replaces (or creates) a file that only this program writes, such as the
// summary cache. Throws StoreError naming the file.
void replaceFileAtomically(Env& env, const std::string& path, std::string_view bytes);

// Removes temporary files that runs of this program left in `directory` when
// they were killed, once they are older than staleTempSeconds by the
// environment's clock. Failing to remove one is no error.
inline constexpr int64_t staleTempSeconds = 300;
void removeStaleTempFiles(Env& env, const std::string& directory);

// Whether a file name is one of our temporary files.
bool isTempFileName(std::string_view name);

// The file a path leads to once every symbolic link on its last component is
// followed; the path itself when it is no link. Throws StoreError on a loop.
std::string resolveLinks(Env& fs, const std::string& path);

// Creates `directory` and its missing parents (mode 0700). Throws StoreError.
void makeDirectories(Env& env, const std::string& directory);

// The whole file, or nothing when it cannot be read as a regular file of at
// most `limit` bytes.
std::optional<std::string> readWholeFile(Env& env, const std::string& path, size_t limit = Env::unlimited);

}  // namespace tallowick::ical
