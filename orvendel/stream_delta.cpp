#include "orvendel/stream_delta.h"

#include "text/unicode.h"

namespace orvendel {

std::string_view streamDelta(std::string_view previous, std::string_view text) {
  bool extendsBytewise = text.starts_with(previous);
  if (extendsBytewise && vantrel::text::isGraphemeBoundary(text, previous.size()))
    return text.substr(previous.size());
  size_t prefix = vantrel::text::graphemePrefixBytes(text, vantrel::text::graphemeCount(previous));
  if (vantrel::text::canonicallyEqual(text.substr(0, prefix), previous)) return text.substr(prefix);
  if (extendsBytewise) return text.substr(previous.size());
  return text;
}

}  // namespace orvendel
