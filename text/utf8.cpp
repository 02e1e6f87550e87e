#include "text/utf8.h"

#include <cstdint>
#include <cstring>

namespace vantrel::text {
namespace {

// Length of the well-formed sequence that starts at `i`, or 0 when the bytes
// there are ill-formed. `bad` receives how many bytes the maximal ill-formed
// prefix spans (at least 1) when 0 is returned.
size_t wellFormedLength(std::string_view s, size_t i, size_t& bad) {
  auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = at(i);
  bad = 1;
  if (b0 < 0x80) return 1;
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k < need; ++k) {
    if (i + k >= s.size()) return 0;
    unsigned char b = at(i + k);
    unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
    if (b < l || b > h) return 0;
    bad = k + 1;
  }
  return need;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    // Eight ASCII bytes at a time: a long listing is hundreds of megabytes.
    uint64_t word;
    if (i + sizeof word <= bytes.size()) {
      std::memcpy(&word, bytes.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t n = wellFormedLength(bytes, i, bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string repairUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    size_t n = wellFormedLength(bytes, i, bad);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i += bad;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace vantrel::text
