#include "text/json_string.h"

#include <array>

namespace vantrel::text {

void appendJsonString(std::string& out, std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  // Runs that need no escape are copied whole; most texts are one such run.
  static constexpr auto needsEscape = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = true;
    table['"'] = table['\\'] = table['/'] = true;
    return table;
  }();
  auto plain = [](char c) { return !needsEscape[static_cast<unsigned char>(c)]; };
  size_t i = 0;
  while (i < value.size()) {
    size_t run = i;
    while (run < value.size() && plain(value[run])) ++run;
    out.append(value.data() + i, run - i);
    if (run == value.size()) break;
    char c = value[run];
    i = run + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {  // the other control characters
        auto byte = static_cast<unsigned char>(c);
        out += "\\u00";
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0x0f]);
      }
    }
  }
  out.push_back('"');
}

}  // namespace vantrel::text
