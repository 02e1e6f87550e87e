// Date texts of the command line: parseYmd and both ends of dayBounds, and
// the local text written back for what they give. A refusal is a
// HelperError (the entry makes its message one line); anything else that
// escapes is a fault.
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "tallowick/dates.h"
#include "tallowick/helper_error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "Europe/Berlin", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(fuzz::text(data, size));
  try {
    tallowick::toLocalISOString(tallowick::parseYmd(text));
  } catch (const tallowick::HelperError&) {
  }
  for (bool endOfDay : {false, true}) {
    try {
      tallowick::toLocalISOString(tallowick::dayBounds(text, endOfDay));
    } catch (const tallowick::HelperError&) {
    }
  }
  return 0;
}
