#pragma once
// orvendel's command line: which operation a run performs.

#include <ostream>
#include <string>
#include <vector>

#include "orvendel/model/language_model.h"

namespace orvendel {

// `args` are the arguments after the program name. Order: no argument is a
// usage error even on an old system; then the version gate, before the
// subcommand is looked at; then status, chat, stream-chat, doctor by exact match.
// Throws HelperError or whatever the operation lets through.
void dispatch(const std::vector<std::string>& args, ModelPlatform& platform, std::ostream& out);

}  // namespace orvendel
