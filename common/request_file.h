#pragma once
// Reading a request file that the host wrote: the whole file, as bytes.

#include <stdexcept>
#include <string>

namespace vantrel {

// A request file that cannot be read. what() is one line naming the file.
class RequestFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the whole file at `path` (relative paths against the working
// directory), with no size limit. Refuses, before reading, anything that is not
// a regular file: a FIFO or a device such as /dev/zero would block or never end.
// Throws RequestFileError.
std::string readRequestFile(const std::string& path);

}  // namespace vantrel
