// The store this build ships: the person's own settings and calendars, found
// through the XDG base directories.
#include <pwd.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstdlib>

#include "tallowick/store/vdir_store/vdir_store.h"

namespace tallowick {
namespace {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

// An XDG variable counts only when it holds an absolute path.
std::string xdgDirectory(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  return value && value[0] == '/' ? value : fallback;
}

std::string freshUuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

}  // namespace

std::unique_ptr<CalendarPlatform> makeDefaultCalendarPlatform() {
  const std::string home = homeDirectory();
  ical::VdirStoreConfig config;
  config.settingsFile = xdgDirectory("XDG_CONFIG_HOME", home + "/.config") + "/vantrel/calendar.json";
  config.defaultRoot = xdgDirectory("XDG_DATA_HOME", home + "/.local/share") + "/calendars";
  config.home = home;
  const std::string cache = xdgDirectory("XDG_CACHE_HOME", home + "/.cache") + "/vantrel";
  config.cacheFile = cache + "/calendar-index";
  config.lockFile = cache + "/write.lock";
  config.prompt = ical::askPerson;
  config.newUuid = freshUuid;
  return std::make_unique<ical::VdirPlatform>(std::move(config));
}

}  // namespace tallowick
