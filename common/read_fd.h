#pragma once
// Reading an open file to its end, for the places that read whole files.

#include <cstddef>
#include <string>

namespace vantrel {

// Appends everything from `fd` up to end of file to `out`, retrying
// interrupted reads. Returns 0, the errno of the read that failed, or EFBIG
// once more than `limit` bytes would be appended (what was read stays).
int readToEnd(int fd, std::string& out, size_t limit = static_cast<size_t>(-1));

}  // namespace vantrel
