#pragma once
// UTF-8 validation and repair. The platform layers hand the logic valid UTF-8
// only, repairing what they read the way the target platform's string type
// would: every ill-formed sequence becomes U+FFFD.

#include <string>
#include <string_view>

namespace vantrel::text {

bool isValidUtf8(std::string_view bytes);

// Returns `bytes` with each maximal ill-formed subsequence replaced by U+FFFD.
// Valid input comes back unchanged.
std::string repairUtf8(std::string_view bytes);

}  // namespace vantrel::text
