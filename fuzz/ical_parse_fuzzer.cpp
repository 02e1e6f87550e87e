// A calendar file's bytes: parsed, then its todos read as the listing does.
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/zones/system_zones.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "Europe/Berlin", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (auto file = tallowick::ical::CalendarFile::parse(fuzz::text(data, size), tallowick::zones::systemZones())) file->todos();
  return 0;
}
