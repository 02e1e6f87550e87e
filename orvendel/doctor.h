#pragma once
// `orvendel doctor`: for a person at the desktop, not for the host. The host's
// status and error texts are fixed and say only "not ready"; this says what
// the run would use, what each step of the availability check got back, and
// what is wrong.

#include <ostream>

#include "orvendel/model/language_model.h"

namespace orvendel {

// Prints one line per fact, "<name>: <value>" (each made one printable line),
// in the order the model's diagnose() found them, then "languages: <codes>"
// and last "verdict: usable" or "verdict: not usable: <reason>". When the
// model is not usable, throws HelperError unavailable whose message is
// "The model is not usable: <reason>", after everything is written.
void runDoctor(ModelPlatform& platform, std::ostream& out);

}  // namespace orvendel
