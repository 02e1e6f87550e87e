// The store this build ships: the person's own settings and calendars, found
// through the XDG base directories, in the vdir folders or in
// evolution-data-server (see store/eds/store_choice.h for which).
#include <pwd.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstdio>
#include <cstdlib>

#include "tallowick/store/eds/chosen_platform.h"
#include "tallowick/store/eds/eds_module.h"
#include "tallowick/store/eds/store_choice.h"
#include "tallowick/store/ical/ical_store.h"

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

// libical prints its parser's complaints about a broken file
// ("icalparser.c:786: Encountered END before BEGIN") with fprintf on stdio's
// stderr, and offers no switch for it. A file that does not parse is simply
// skipped here, and stderr must carry nothing but the entry's error line, so
// stdio's stderr is pointed at a stream that drops what it is given. The
// entry writes its line to descriptor 2 directly, and the sanitizers report
// there too, so neither is affected.
void quietLibical() {
  static const bool done = [] {
    cookie_io_functions_t discard{};
    discard.write = [](void*, const char*, size_t size) -> ssize_t { return static_cast<ssize_t>(size); };
    if (FILE* sink = ::fopencookie(nullptr, "w", discard)) stderr = sink;
    return true;
  }();
  (void)done;
}

}  // namespace

std::unique_ptr<CalendarPlatform> makeDefaultCalendarPlatform() {
  quietLibical();
  const std::string home = homeDirectory();
  ical::IcalStoreConfig config;
  config.settingsFile = xdgDirectory("XDG_CONFIG_HOME", home + "/.config") + "/vantrel/calendar.json";
  config.defaultRoot = xdgDirectory("XDG_DATA_HOME", home + "/.local/share") + "/calendars";
  config.home = home;
  const std::string cache = xdgDirectory("XDG_CACHE_HOME", home + "/.cache") + "/vantrel";
  config.cacheFile = cache + "/calendar-index";
  config.lockFile = cache + "/write.lock";
  config.prompt = ical::askPerson;
  config.newUuid = freshUuid;
  config.now = currentInstant;

  eds::ChoiceConfig choice;
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
  choice.now = currentInstant;
  return std::make_unique<eds::ChosenPlatform>(std::make_unique<ical::IcalPlatform>(std::move(config)),
                                               std::move(choice));
}

}  // namespace tallowick
