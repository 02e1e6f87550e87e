#pragma once
// The settings of the local model: $XDG_CONFIG_HOME/vantrel/model.json,
//   {"endpoint": "http://127.0.0.1:8080", "model": "<name>", "languages": ["en"],
//    "apiKey": "<key>" or "apiKeyFile": "<path>"}
// Every member is optional. A file that exists but cannot be read or is not
// of that shape is a problem, never silently the defaults: the user meant
// something else, and guessing could send their text to the wrong runtime.
//
// An API key is a secret: it is only taken from a file that no other user
// may read (no group or other permission bits), whether that is the key file
// or model.json itself, and no problem text ever quotes it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvendel::local {

inline constexpr const char* kDefaultEndpoint = "http://127.0.0.1:8080";

struct ModelSettings {
  std::string endpoint = kDefaultEndpoint;
  std::optional<std::string> model;  // sent as "model" when present
  std::vector<std::string> languages;
  std::optional<std::string> apiKey;      // sent as "Authorization: Bearer <key>"
  std::optional<std::string> apiKeyFile;  // as written; loadModelSettings reads it into apiKey
  // Why these settings cannot be used; the model is then unavailable.
  std::optional<std::string> problem;
  // For a person (orvendel doctor): which file the settings came from and
  // what became of it, and where the key came from with that file's mode.
  // Never the key itself.
  std::string origin = "none read; the defaults apply";
  std::optional<std::string> apiKeyOrigin;
};

// Settings from the bytes of a settings file. Reads no key file.
ModelSettings parseModelSettings(std::string_view bytes);

// The key in the bytes of a key file: its text without the white space around
// it (a line feed at the end, say). Nothing when that is empty or holds a
// control character, which has no place in a header.
std::optional<std::string> apiKeyFromText(std::string_view text);

// The settings file's path from $XDG_CONFIG_HOME and $HOME (either may be
// null); nothing when neither gives an absolute directory.
std::optional<std::string> modelSettingsPath(const char* xdgConfigHome, const char* home);

// Settings from the file at `path`: the defaults when there is no path or no
// file there. With "apiKeyFile", also reads the key from that file: "~/" at
// its start is `home` (may be null), and a relative path is taken from the
// directory of the settings file.
ModelSettings loadModelSettings(const std::optional<std::string>& path, const char* home = nullptr);

}  // namespace orvendel::local
