#pragma once
// Shared by the libFuzzer harnesses: the input as text, and a check whose
// failure libFuzzer reports as a crash with the input that caused it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// An error line the host reads must be one line.
inline void expectOneLine(std::string_view message) {
  if (message.empty() || message.find_first_of("\r\n") != std::string_view::npos) {
    std::fprintf(stderr, "not one line: %.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
  }
}

inline void expect(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz
