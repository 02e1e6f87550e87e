#include <iostream>
#include <string>
#include <vector>

#include "common/job.h"
#include "tallowick/dispatch.h"
#include "tallowick/events.h"

int main(int argc, char** argv) {
  // Built here, before the job starts, so the job only ever reads it.
  tallowick::skippedCalendars();
  std::vector<std::string> args = vantrel::commandLineArguments(argc, argv);
  vantrel::runJobAndPark([args = std::move(args)] {
    auto platform = tallowick::makeDefaultCalendarPlatform();
    tallowick::dispatch(args, *platform, std::cout);
  });
}
