#include "tallowick/store/icalendar/libical_threads.h"

#include <libical/ical.h>

namespace tallowick::ical {

void prepareLibical() {
  // A function-local static runs once, and every other caller waits for it.
  static const bool prepared = [] {
    // Reads zone.tab into the shared table and names the UTC zone; after
    // this, the parser's calls only read them.
    icaltimezone_get_utc_timezone();
    // The parser saves, changes and restores this error's state around every
    // parse, in a table shared by all threads; with the value it sets already
    // in place, those writes change nothing.
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
    return true;
  }();
  (void)prepared;
}

}  // namespace tallowick::ical
