// The request file of chat and stream-chat.
#include "fuzz/fuzz_input.h"
#include "orvendel/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    orvendel::decodeChatRequest(std::string(fuzz::text(data, size)), "request.json");
  } catch (const orvendel::RequestDecodeError& e) {
    fuzz::expectOneLine(e.what());
  }
  return 0;
}
