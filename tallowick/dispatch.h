#pragma once
// The command line: which operation a run performs, and the usage errors.

#include <ostream>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// Picks the operation that `args` (element 0 the program path) names and runs
// it against `platform`, printing its document on `out`. Throws
// HelperError::usage for a command line it cannot run; the operation's errors
// pass through.
void dispatch(const std::vector<std::string>& args, CalendarPlatform& platform, std::ostream& out);

}  // namespace tallowick
