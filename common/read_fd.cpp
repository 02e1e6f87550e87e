#include "common/read_fd.h"

#include <unistd.h>

#include <cerrno>

namespace vantrel {

int readToEnd(int fd, std::string& out, size_t limit) {
  char buffer[65536];
  size_t read = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    read += static_cast<size_t>(n);
    if (read > limit) return EFBIG;
    out.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace vantrel
