// The request files of add-reminder and complete-reminder.
#include "fuzz/fuzz_input.h"
#include "tallowick/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(fuzz::text(data, size));
  try {
    tallowick::decodeAddReminderRequest(bytes, "add.json");
  } catch (const tallowick::RequestDecodeError& e) {
    fuzz::expectOneLine(e.what());
  }
  try {
    tallowick::decodeCompleteReminderRequest(bytes, "done.json");
  } catch (const tallowick::RequestDecodeError& e) {
    fuzz::expectOneLine(e.what());
  }
  return 0;
}
