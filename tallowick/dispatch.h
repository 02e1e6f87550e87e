#pragma once
// The command line: which operation a run performs, and the usage errors.

#include <exception>
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

// The line the entry prints for an error: a HelperError's message unchanged,
// any other error's one-line description.
std::string describeError(std::exception_ptr error);

}  // namespace tallowick
