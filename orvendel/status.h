#pragma once
// The status report: whether the on-device model can be used now and which
// languages it supports. An unavailable model is data, not an error.

#include <ostream>

#include "orvendel/model/language_model.h"
#include "orvendel/wire.h"

namespace orvendel {

inline constexpr const char* kModelName = "Apple Intelligence";

// Language codes in the model's order, those without a code left out; neither
// sorted nor de-duplicated.
StatusResponse makeStatusResponse(LanguageModel& model);

// Prints the StatusResponse line. Throws only what encodeAndPrint throws.
void runStatus(ModelPlatform& platform, std::ostream& out);

}  // namespace orvendel
