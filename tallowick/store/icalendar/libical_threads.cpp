#include "tallowick/store/icalendar/libical_threads.h"

#include <map>
#include <mutex>

namespace tallowick::ical {
namespace {

std::mutex zoneLock;

}  // namespace

void prepareLibical() {
  // A lock rather than std::call_once, so that race checkers such as
  // Helgrind, which do not see through pthread_once, see the ordering too.
  static std::mutex setUp;
  static bool done = false;
  std::lock_guard<std::mutex> hold(setUp);
  if (!done) {
    done = true;
    // Reads zone.tab into the shared table and names the UTC zone; after
    // this, the parser's calls only read them.
    icaltimezone_get_utc_timezone();
    // The parser saves, changes and restores this error's state around every
    // parse, in a table shared by all threads; with the value it sets already
    // in place, those writes change nothing.
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
  }
}

icaltimezone* builtinZone(const std::string& name) {
  prepareLibical();
  static std::map<std::string, icaltimezone*, std::less<>> known;
  std::lock_guard<std::mutex> hold(zoneLock);
  if (auto it = known.find(name); it != known.end()) return it->second;
  icaltimezone* zone = icaltimezone_get_builtin_timezone(name.c_str());
  // Loading the zone's data rewrites its table entry; done here, under the
  // lock, no later conversion needs to load it.
  if (zone) icaltimezone_get_component(zone);
  known.emplace(name, zone);
  return zone;
}

}  // namespace tallowick::ical
