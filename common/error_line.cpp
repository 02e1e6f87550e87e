#include "common/error_line.h"

#include "text/utf8.h"

namespace vantrel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string oneLine(std::string_view text) {
  std::string valid = text::repairUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (size_t i = 0; i < valid.size(); ++i) {
    auto c = static_cast<unsigned char>(valid[i]);
    if (c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      out.push_back(' ');
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      out += kReplacement;
    } else if (c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) <= 0x9F) {
      // C1 controls, U+0080..U+009F; NEL (U+0085) is a line break.
      out += static_cast<unsigned char>(valid[i + 1]) == 0x85 ? std::string_view(" ") : kReplacement;
      ++i;
    } else if (c == 0xE2 && valid.compare(i, 2, "\xE2\x80") == 0 && i + 2 < valid.size() &&
               (valid[i + 2] == '\xA8' || valid[i + 2] == '\xA9')) {
      out.push_back(' ');  // LINE SEPARATOR, PARAGRAPH SEPARATOR
      i += 2;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  if (out.find_first_not_of(' ') == std::string::npos) return "Unknown error";
  return out;
}

std::string factLine(std::string_view name, std::string_view value) {
  std::string text(name);
  text.append(": ").append(value);
  return oneLine(text) + "\n";
}

std::string describeError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return oneLine(e.what());
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace vantrel
