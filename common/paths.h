#pragma once
// Paths as both helpers read them from their settings files.

#include <string>

namespace vantrel {

// The directory part of a path: "." for a bare name, "/" for "/name".
std::string directoryOf(const std::string& path);

// A path written in a settings file: "~" or "~/..." is in the home directory
// (when `home` is an absolute path); an absolute path stays; any other is
// taken from the directory of the settings file itself.
std::string resolveSettingsPath(const std::string& written, const std::string& settingsFile, const std::string& home);

}  // namespace vantrel
