#pragma once
// Test-only: request files on disk and an output stream that records flushes.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace orvendel {

// A file in a fresh temporary directory, removed with it.
class TempRequest {
 public:
  explicit TempRequest(const std::string& contents) {
    char pattern[] = "/tmp/orvendel-test-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    path_ = dir_ + "/request.json";
    std::ofstream(path_, std::ios::binary) << contents;
  }
  ~TempRequest() {
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  TempRequest(const TempRequest&) = delete;
  TempRequest& operator=(const TempRequest&) = delete;

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string path_;
};

// An ostream that keeps what was written and, at every flush, what had been
// written by then.
class RecordingStream : public std::ostream {
 public:
  RecordingStream() : std::ostream(&buffer_) {}
  std::string text() const { return buffer_.str(); }
  const std::vector<std::string>& flushes() const { return buffer_.flushes; }

 private:
  struct Buffer : std::stringbuf {
    std::vector<std::string> flushes;
    int sync() override {
      flushes.push_back(str());
      return 0;
    }
  };
  Buffer buffer_;
};

}  // namespace orvendel
