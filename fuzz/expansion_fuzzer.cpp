// A calendar file's events expanded over a window of 1 to 40 days near its
// first event, chosen by the input's hash so that the fuzzer moves it too.
// (40 days keeps an every-second rule at a few million occurrences.)
#include <chrono>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/zones/system_zones.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "Europe/Berlin", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto file = tallowick::ical::CalendarFile::parse(fuzz::text(data, size), tallowick::zones::systemZones());
  if (!file) return 0;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  using days = std::chrono::days;
  tallowick::ical::EventSpan span = file->eventSpan();
  tallowick::Instant start = span.any ? span.first : tallowick::Instant{};
  start += days(static_cast<int64_t>(hash % 730)) - days(30);
  tallowick::Instant end = start + days(1 + static_cast<int64_t>((hash >> 20) % 40));
  auto list = file->occurrenceList(start, end);
  for (const auto& entry : list.entries()) {
    fuzz::expect(entry.texts < list.texts().size(), "an occurrence's texts exist");
    fuzz::expect(entry.start <= end && entry.end >= start, "an occurrence overlaps the window");
  }
  return 0;
}
