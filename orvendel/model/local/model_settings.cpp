#include "orvendel/model/local/model_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/json_document.h"
#include "common/paths.h"
#include "common/read_fd.h"
#include "common/request_file.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

constexpr off_t kMaxKeyFileBytes = 64 * 1024;

ModelSettings withProblem(std::string problem) {
  ModelSettings settings;
  settings.problem = std::move(problem);
  return settings;
}

bool othersMayAccess(mode_t mode) { return (mode & (S_IRWXG | S_IRWXO)) != 0; }

std::string octalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}


struct KeyFile {
  std::optional<std::string> key;
  std::string problem;  // why there is no key, without the key in the text
  std::string origin;   // the path, with the mode when it could be seen
};

KeyFile readApiKeyFile(const std::string& path) {
  KeyFile result{std::nullopt, {}, path};
  auto problem = [&](const std::string& what) {
    result.problem = "Model API key file " + path + " " + what;
    return result;
  };
  // O_NONBLOCK: opening a FIFO without a writer must not hang before the
  // type check refuses it.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return problem(std::string("cannot be read: ") + std::strerror(errno));
  struct stat info {};
  std::string bytes;
  int error = ::fstat(fd, &info) != 0 ? errno : 0;
  if (error == 0) result.origin += " (mode " + octalMode(info.st_mode) + ")";
  // Only a file that passes every check below is read at all.
  if (error == 0 && S_ISREG(info.st_mode) && !othersMayAccess(info.st_mode) && info.st_size <= kMaxKeyFileBytes)
    error = vantrel::readToEnd(fd, bytes);
  ::close(fd);
  if (error != 0) return problem(std::string("cannot be read: ") + std::strerror(error));
  if (!S_ISREG(info.st_mode)) return problem("is not a regular file");
  if (othersMayAccess(info.st_mode))
    return problem("may be read by other users (mode " + octalMode(info.st_mode) + "); make it private: chmod 600 " +
                   path);
  if (info.st_size > kMaxKeyFileBytes || static_cast<off_t>(bytes.size()) > kMaxKeyFileBytes)
    return problem("is too large to hold a key");
  result.key = apiKeyFromText(bytes);
  if (!result.key) return problem("holds no usable key (it is empty or has a control character inside the key)");
  return result;
}

}  // namespace

std::optional<std::string> apiKeyFromText(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    // A line break inside would end the header and start another.
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
  }
  return std::string(text);
}

ModelSettings parseModelSettings(std::string_view bytes) {
  const std::string badShape = "Model settings are not a JSON object with string members endpoint, model, apiKey "
                               "and apiKeyFile and a string array languages";
  nlohmann::json document;
  try {
    document = vantrel::parseJsonDocument(vantrel::text::repairUtf8(bytes));
  } catch (const vantrel::JsonParseError& e) {
    // "not valid JSON at byte N: ...": where a hand-edited file went wrong.
    return withProblem(std::string("Model settings are ") + e.what());
  }
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
  auto apiKey = text("apiKey");
  auto apiKeyFile = text("apiKeyFile");
  if (!endpoint || !model || !apiKey || !apiKeyFile) return withProblem(badShape);
  if (*endpoint) settings.endpoint = **endpoint;
  if (*model && !(*model)->empty()) settings.model = **model;
  if (*apiKey && *apiKeyFile) return withProblem("Model settings give both apiKey and apiKeyFile; keep one");
  if (*apiKey && !(*apiKey)->empty()) {
    settings.apiKey = apiKeyFromText(**apiKey);
    if (!settings.apiKey)
      return withProblem("Model settings hold an apiKey that is blank or has a control character inside");
  }
  if (*apiKeyFile) {
    if ((*apiKeyFile)->empty()) return withProblem("Model settings name an empty apiKeyFile");
    settings.apiKeyFile = **apiKeyFile;
  }

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

ModelSettings loadModelSettings(const std::optional<std::string>& path, const char* home) {
  ModelSettings settings;
  if (!path) {
    settings.origin = "none: neither XDG_CONFIG_HOME nor HOME is an absolute path; the defaults apply";
    return settings;
  }
  std::error_code error;
  if (std::filesystem::symlink_status(*path, error).type() == std::filesystem::file_type::not_found) {
    settings.origin = *path + " (not there; the defaults apply)";
    return settings;
  }
  try {
    settings = parseModelSettings(vantrel::readRequestFile(*path));
  } catch (const vantrel::RequestFileError& e) {
    // The reading helper words its errors for request files.
    std::string reason = e.what();
    reason = reason.substr(reason.rfind(": ") + 2);
    settings = withProblem("Cannot read model settings " + *path + ": " + reason);
    settings.origin = *path + " (cannot be read)";
    return settings;
  }
  settings.origin = *path + " (read)";
  if (settings.problem) {
    settings.problem = *settings.problem + " (" + *path + ")";
    return settings;
  }
  // A key problem keeps the rest of the settings (the languages that status
  // reports), but the model is unavailable and no key is kept.
  auto keyProblem = [&](std::string text) {
    settings.apiKey.reset();
    settings.problem = std::move(text);
    return settings;
  };
  if (settings.apiKey) {
    // The key is inside the settings, so they are as secret as a key file.
    struct stat info {};
    settings.apiKeyOrigin = "apiKey in " + *path;
    if (::stat(path->c_str(), &info) != 0)
      return keyProblem("Cannot read model settings " + *path + ": " + std::strerror(errno));
    *settings.apiKeyOrigin += " (mode " + octalMode(info.st_mode) + ")";
    if (othersMayAccess(info.st_mode))
      return keyProblem("Model settings " + *path + " hold an apiKey but may be read by other users (mode " +
                        octalMode(info.st_mode) + "); make them private: chmod 600 " + *path);
  }
  if (settings.apiKeyFile) {
    KeyFile keyFile = readApiKeyFile(vantrel::resolveSettingsPath(*settings.apiKeyFile, *path, home ? home : ""));
    settings.apiKeyOrigin = "apiKeyFile " + keyFile.origin;
    if (!keyFile.key) return keyProblem(std::move(keyFile.problem));
    settings.apiKey = std::move(keyFile.key);
  }
  return settings;
}

}  // namespace orvendel::local
