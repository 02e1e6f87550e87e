#pragma once
// Writing files so that a reader or a crash never sees half of one: the bytes
// go to a temporary file in the same directory (a dot name that does not end
// in .ics, so vdir readers skip it), are fsynced, and are moved into place.

#include <optional>
#include <string>
#include <string_view>

namespace tallowick::ical {

// Replaces (or creates) `path`, keeping the mode of the file it replaces.
// Throws StoreError naming the file.
void replaceFileAtomically(const std::string& path, std::string_view bytes);

// Creates `path` only if nothing of that name exists: returns false, having
// written nothing, when something does. Throws StoreError on other failures.
bool createFileExclusively(const std::string& path, std::string_view bytes);

// Creates `directory` and its missing parents (mode 0700). Throws StoreError.
void makeDirectories(const std::string& directory);

// The whole file, or nothing when it cannot be read as a regular file.
std::optional<std::string> readWholeFile(const std::string& path);

}  // namespace tallowick::ical
