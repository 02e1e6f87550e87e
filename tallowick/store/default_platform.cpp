// The store this build ships: the person's own settings and calendars, found
// through the XDG base directories, in vdir folders or in
// evolution-data-server (see store/eds/store_choice.h for which).
#include <pwd.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstdlib>

#include "tallowick/store/eds/chosen_platform.h"
#include "tallowick/store/eds/eds_module.h"
#include "tallowick/store/eds/store_choice.h"
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

std::string textOf(const uuid_t id) {
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

std::string freshUuid() {
  uuid_t id;
  uuid_generate_random(id);
  return textOf(id);
}

// A name-based UUID (RFC 4122 version 5) in a namespace of this program's
// own, so that the same reminder always gets the same UID.
std::string uuidOf(const std::string& name) {
  static const uuid_t space = {0x5c, 0x1e, 0x5a, 0x7b, 0x3d, 0x2f, 0x4e, 0x61,
                               0x9a, 0x0b, 0x8c, 0x47, 0xd2, 0x36, 0xe1, 0x90};
  uuid_t id;
  uuid_generate_sha1(id, space, name.data(), name.size());
  return textOf(id);
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
  config.uuidOf = uuidOf;

  eds::ChoiceConfig choice;
  choice.env = config.env;
  choice.zones = config.zones;
  choice.settingsFile = config.settingsFile;
  choice.vdirRoot = config.defaultRoot;
  choice.sessionBus = [] {
    return eds::sessionBusPresent(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
  };
  choice.loadService = []() -> std::unique_ptr<eds::EdsService> {
    if (!VANTREL_EDS_MODULE_BUILT)
      throw StoreError("Cannot use evolution-data-server: this tallowick was built without it (libecal-2.0 missing)");
    return eds::loadEdsService(eds::edsModulePath(std::getenv("TALLOWICK_EDS_MODULE"), eds::runningProgramPath(),
                                                  VANTREL_EDS_MODULE_RELATIVE));
  };
  choice.newUuid = freshUuid;
  choice.uuidOf = uuidOf;
  return std::make_unique<eds::ChosenPlatform>(std::make_unique<ical::VdirPlatform>(std::move(config)),
                                               std::move(choice));
}

}  // namespace tallowick
