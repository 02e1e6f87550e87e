// model.json as orvendel reads it. Settings it cannot use carry a problem of
// one line; usable ones never carry a key with a control character.
#include "fuzz/fuzz_input.h"
#include "orvendel/model/local/model_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto settings = orvendel::local::parseModelSettings(fuzz::text(data, size));
  if (settings.problem) fuzz::expectOneLine(*settings.problem);
  if (settings.apiKey)
    for (char c : *settings.apiKey) fuzz::expect(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a header-safe key");
  return 0;
}
