#include "common/json_document.h"

#include <optional>
#include <string>

#include "common/json_failure.h"

namespace vantrel {
namespace {

// Where the bracket that opens one level more than kMaxJsonDepth is, or npos.
// Up to the first syntax error, brackets outside strings are exactly the
// parser's levels, so no deeper document gets past this.
size_t tooDeepAt(std::string_view text) {
  size_t depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string_view::npos;
}

// Reads events without keeping them, to find the parser's first complaint.
class FirstFault : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::json::exception& error) override {
    byte = position;
    description = describeJsonFailure(error);
    return false;
  }

  size_t byte = 0;
  std::string description;
};

// The parser's complaint about a fault within `prefix`, if any; running out
// of input at its end does not count, since the text goes on.
std::optional<std::string> faultWithin(std::string_view prefix) {
  FirstFault sax;
  nlohmann::json::sax_parse(prefix.begin(), prefix.end(), &sax);
  if (sax.byte == 0 || sax.byte > prefix.size()) return std::nullopt;
  return sax.description;
}

}  // namespace

template <typename Json>
Json parseJsonDocument(std::string_view text) {
  if (size_t deep = tooDeepAt(text); deep != std::string_view::npos) {
    if (auto earlier = faultWithin(text.substr(0, deep))) throw JsonParseError(*earlier);
    throw JsonParseError("not valid JSON at byte " + std::to_string(deep + 1) + ": nested more than " +
                         std::to_string(kMaxJsonDepth) + " levels deep");
  }
  try {
    return Json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw JsonParseError(describeJsonFailure(e));
  }
}

template <typename Json>
Json parseJsonDocumentOrDiscarded(std::string_view text) {
  if (tooDeepAt(text) != std::string_view::npos) return Json(nlohmann::json::value_t::discarded);
  return Json::parse(text, nullptr, false);
}

template nlohmann::json parseJsonDocument<nlohmann::json>(std::string_view);
template nlohmann::ordered_json parseJsonDocument<nlohmann::ordered_json>(std::string_view);
template nlohmann::json parseJsonDocumentOrDiscarded<nlohmann::json>(std::string_view);
template nlohmann::ordered_json parseJsonDocumentOrDiscarded<nlohmann::ordered_json>(std::string_view);

}  // namespace vantrel
