#pragma once
// Reading an open file to its end, for the places that read whole files.

#include <string>

namespace vantrel {

// Appends everything from `fd` up to end of file to `out`, retrying
// interrupted reads. Returns 0, or the errno of the read that failed.
int readToEnd(int fd, std::string& out);

}  // namespace vantrel
