#include "tallowick/store/vdir/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/json_document.h"
#include "common/paths.h"
#include "tallowick/store/vdir/atomic_file.h"
#include "tallowick/store/vdir/write_lock.h"

namespace tallowick::ical {
namespace {

using Json = nlohmann::ordered_json;

const char* memberFor(EntityType type) { return type == EntityType::event ? "events" : "reminders"; }

enum class Loaded { missing, malformed, ok };

Loaded load(Env& env, const std::string& settingsFile, Json& out) {
  struct stat info {};
  if (int error = env.stat(settingsFile, info); error == ENOENT || error == ENOTDIR) return Loaded::missing;
  std::optional<std::string> bytes = readWholeFile(env, settingsFile, maxSettingsBytes);
  if (!bytes) return Loaded::malformed;
  out = vantrel::parseJsonDocumentOrDiscarded<Json>(*bytes);
  return out.is_object() ? Loaded::ok : Loaded::malformed;
}

std::optional<std::string> stringMember(const Json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace

std::optional<std::string> settingsProblem(Env& env, const std::string& settingsFile) {
  struct stat info {};
  if (int error = env.stat(settingsFile, info); error == ENOENT || error == ENOTDIR) return std::nullopt;
  std::string bytes;
  if (int error = env.readFile(settingsFile, bytes, info, maxSettingsBytes)) {
    if (error == EFBIG) return "it is larger than 1 MiB";
    if (error == EINVAL) return "it is not a regular file";
    return std::string("it cannot be read: ") + std::strerror(error);
  }
  Json json;
  try {
    json = vantrel::parseJsonDocument<Json>(bytes);
  } catch (const vantrel::JsonParseError& e) {
    return std::string("it is ") + e.what();
  }
  if (!json.is_object()) return "it is not a JSON object";
  for (const char* name : {"store", "defaultReminderList"})
    if (json.contains(name) && !json[name].is_string()) return std::string("member \"") + name + "\" is not a text";
  if (json.contains("access")) {
    const Json& access = json["access"];
    if (!access.is_object()) return "member \"access\" is not an object";
    for (const char* type : {"events", "reminders"}) {
      if (!access.contains(type)) continue;
      const Json& state = access[type];
      static const char* words[] = {"not-determined", "restricted", "denied", "full-access", "write-only"};
      if (!state.is_string() || std::none_of(std::begin(words), std::end(words), [&](const char* w) { return state == w; }))
        return std::string("access member \"") + type + "\" is " + state.dump().substr(0, 60) +
               ", not one of \"not-determined\", \"restricted\", \"denied\", \"full-access\", \"write-only\"";
    }
  }
  return std::nullopt;
}

Settings readSettings(Env& env, const std::string& settingsFile) {
  Json json;
  if (load(env, settingsFile, json) != Loaded::ok) return {};
  Settings settings{stringMember(json, "store"), stringMember(json, "defaultReminderList"), {}};
  if (auto backend = json.find("backend"); backend != json.end())
    settings.backend = backend->is_string() ? backend->get<std::string>() : backend->dump();
  return settings;
}

int readAccessState(Env& env, const std::string& settingsFile, EntityType type) {
  Json json;
  switch (load(env, settingsFile, json)) {
    case Loaded::missing: return auth_status::notDetermined;
    case Loaded::malformed: return unknownAccessState;
    case Loaded::ok: break;
  }
  auto access = json.find("access");
  if (access == json.end()) return auth_status::notDetermined;
  if (!access->is_object()) return unknownAccessState;
  auto state = access->find(memberFor(type));
  if (state == access->end()) return auth_status::notDetermined;
  if (!state->is_string()) return unknownAccessState;
  const std::string word = state->get<std::string>();
  if (word == "not-determined") return auth_status::notDetermined;
  if (word == "restricted") return auth_status::restricted;
  if (word == "denied") return auth_status::denied;
  if (word == "full-access") return auth_status::fullAccess;
  if (word == "write-only") return auth_status::writeOnly;
  return unknownAccessState;
}

void recordAccessState(Env& fs, const std::string& settingsFile, EntityType type, bool granted,
                       const std::string& lockFile) {
  WriteLock lock(fs, lockFile);
  const std::string target = resolveLinks(fs, settingsFile);
  removeStaleTempFiles(fs, vantrel::directoryOf(target));
  std::optional<FileVersion> version;
  Json json = Json::object();
  switch (load(fs, target, json)) {
    case Loaded::missing:
      json = Json::object();
      if (size_t slash = target.rfind('/'); slash != std::string::npos && slash > 0)
        makeDirectories(fs, target.substr(0, slash));
      break;
    case Loaded::malformed:
      throw StoreError("Cannot record the access answer: " + settingsFile + " is not a readable JSON object");
    case Loaded::ok:
      version = readVersion(fs, target, maxSettingsBytes);
      // Read again for the version to compare against: what was parsed must
      // be what is replaced.
      if (!version || vantrel::parseJsonDocumentOrDiscarded<Json>(version->bytes) != json)
        throw StoreError("Cannot record the access answer: " + settingsFile + " changed while it was read");
      break;
  }
  if (!json.contains("access") || !json["access"].is_object()) json["access"] = Json::object();
  json["access"][memberFor(type)] = granted ? "full-access" : "denied";
  const std::string text = json.dump(2) + "\n";
  const std::string changed = "Cannot record the access answer: " + settingsFile + " changed while it was written";
  if (!version) {
    if (!createFileExclusively(fs, target, text)) throw StoreError(changed);
    return;
  }
  replaceFileIfUnchanged(fs, target, *version, text, changed);
}

}  // namespace tallowick::ical
