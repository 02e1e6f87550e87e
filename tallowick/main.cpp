#include <iostream>
#include <string>
#include <vector>

#include "common/job.h"
#include "tallowick/dispatch.h"
#include "tallowick/events.h"
#include "text/utf8.h"

int main(int argc, char** argv) {
  // Built here, before the job starts, so the job only ever reads it.
  tallowick::skippedCalendars();
  // Arguments become text the way the target platform's strings do: ill-formed
  // bytes are replaced, so everything downstream sees valid UTF-8.
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(vantrel::text::repairUtf8(argv[i]));
  vantrel::runJobAndPark(
      [args = std::move(args)] {
        auto platform = tallowick::makeDefaultCalendarPlatform();
        tallowick::dispatch(args, *platform, std::cout);
      },
      tallowick::describeError);
}
