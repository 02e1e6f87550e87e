// calendar.json as the store reads it, from a file: the settings and both
// access states. Reading never fails; a state is one of the known values or
// unknownAccessState.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_input.h"
#include "tallowick/store/vdir/settings.h"

namespace {
std::string settingsFile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/calendar-settings-fuzz-XXXXXX";
  int fd = ::mkstemp(name);
  fuzz::expect(fd >= 0, "a temporary file");
  ::close(fd);
  settingsFile = name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* out = std::fopen(settingsFile.c_str(), "wb");
  fuzz::expect(out && std::fwrite(data, 1, size, out) == size && std::fclose(out) == 0, "the input written");
  tallowick::ical::readSettings(tallowick::ical::defaultEnv(), settingsFile);
  for (auto type : {tallowick::EntityType::event, tallowick::EntityType::reminder}) {
    int state = tallowick::ical::readAccessState(tallowick::ical::defaultEnv(), settingsFile, type);
    fuzz::expect(state == tallowick::ical::unknownAccessState || (state >= 0 && state <= 4), "a known state");
  }
  return 0;
}
