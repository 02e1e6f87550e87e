#pragma once
// The settings of the local model: $XDG_CONFIG_HOME/vantrel/model.json,
//   {"endpoint": "http://127.0.0.1:8080", "model": "<name>", "languages": ["en"]}
// Every member is optional. A file that exists but cannot be read or is not
// of that shape is a problem, never silently the defaults: the user meant
// something else, and guessing could send their text to the wrong runtime.

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
  // Why these settings cannot be used; the model is then unavailable.
  std::optional<std::string> problem;
};

// Settings from the bytes of a settings file.
ModelSettings parseModelSettings(std::string_view bytes);

// The settings file's path from $XDG_CONFIG_HOME and $HOME (either may be
// null); nothing when neither gives an absolute directory.
std::optional<std::string> modelSettingsPath(const char* xdgConfigHome, const char* home);

// Settings from the file at `path`: the defaults when there is no path or no
// file there.
ModelSettings loadModelSettings(const std::optional<std::string>& path);

}  // namespace orvendel::local
