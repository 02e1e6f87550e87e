#include "orvendel/model/local/model_settings.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/request_file.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

ModelSettings withProblem(std::string problem) {
  ModelSettings settings;
  settings.problem = std::move(problem);
  return settings;
}

}  // namespace

ModelSettings parseModelSettings(std::string_view bytes) {
  const std::string badShape = "Model settings are not a JSON object with string members endpoint and model and a "
                               "string array languages";
  nlohmann::json document = nlohmann::json::parse(vantrel::text::repairUtf8(bytes), nullptr, false);
  if (document.is_discarded()) return withProblem("Model settings are not valid JSON");
  if (!document.is_object()) return withProblem(badShape);

  ModelSettings settings;
  auto text = [&](const char* name) -> std::optional<std::optional<std::string>> {
    auto it = document.find(name);
    if (it == document.end() || it->is_null()) return std::optional<std::string>();
    if (!it->is_string()) return std::nullopt;
    return std::optional<std::string>(it->get<std::string>());
  };
  auto endpoint = text("endpoint");
  auto model = text("model");
  if (!endpoint || !model) return withProblem(badShape);
  if (*endpoint) settings.endpoint = **endpoint;
  if (*model && !(*model)->empty()) settings.model = **model;

  if (auto it = document.find("languages"); it != document.end() && !it->is_null()) {
    if (!it->is_array()) return withProblem(badShape);
    for (const auto& code : *it) {
      if (!code.is_string()) return withProblem(badShape);
      settings.languages.push_back(code.get<std::string>());
    }
  }
  return settings;
}

std::optional<std::string> modelSettingsPath(const char* xdgConfigHome, const char* home) {
  // The base directory spec says to ignore a relative $XDG_CONFIG_HOME.
  if (xdgConfigHome && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/vantrel/model.json";
  if (home && home[0] == '/') return std::string(home) + "/.config/vantrel/model.json";
  return std::nullopt;
}

ModelSettings loadModelSettings(const std::optional<std::string>& path) {
  if (!path) return {};
  std::error_code error;
  if (std::filesystem::symlink_status(*path, error).type() == std::filesystem::file_type::not_found) return {};
  ModelSettings settings;
  try {
    settings = parseModelSettings(vantrel::readRequestFile(*path));
  } catch (const vantrel::RequestFileError& e) {
    // The reading helper words its errors for request files.
    std::string reason = e.what();
    reason = reason.substr(reason.rfind(": ") + 2);
    return withProblem("Cannot read model settings " + *path + ": " + reason);
  }
  if (settings.problem) settings.problem = *settings.problem + " (" + *path + ")";
  return settings;
}

}  // namespace orvendel::local
