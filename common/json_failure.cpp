#include "common/json_failure.h"

#include <string_view>

namespace vantrel {

std::string describeJsonFailure(const nlohmann::json::exception& error) {
  std::string_view message = error.what();
  // "[json.exception.<kind>.<id>] <text>"
  if (auto tag = message.find("] "); message.starts_with("[json.exception.") && tag != std::string_view::npos)
    message.remove_prefix(tag + 2);
  if (const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&error)) {
    // "parse error at line L, column C: syntax error while parsing value - <reason>[; last read: '<token>'][; expected <what>]"
    if (auto dash = message.find(" - "); dash != std::string_view::npos) message.remove_prefix(dash + 3);
    else if (auto colon = message.find(": "); colon != std::string_view::npos) message.remove_prefix(colon + 2);
    // The token can be any stretch of the file; the reason before it is enough.
    if (auto token = message.find("; last read: '"); token != std::string_view::npos) message = message.substr(0, token);
    return "not valid JSON at byte " + std::to_string(parse->byte) + ": " + std::string(message);
  }
  if (error.id == 406) return "not valid JSON: a number is out of range";
  return "not valid JSON: " + std::string(message);
}

}  // namespace vantrel
