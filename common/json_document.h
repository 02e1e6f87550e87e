#pragma once
// The one way both helpers parse JSON that comes from outside: request files,
// settings files and the model runtime's answers.
//
// nlohmann parses any depth without trouble, but copying, comparing, printing
// and destroying a value all recurse once per level, so a file nested a
// million levels deep would overflow the stack later, far from the parse.
// Nesting deeper than kMaxJsonDepth is therefore refused up front, by a
// linear scan that costs far less than the parse itself.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace vantrel {

// Deeper than any document the helpers read (theirs are two or three levels),
// shallow enough that recursion over it takes a few dozen KiB of stack.
inline constexpr size_t kMaxJsonDepth = 512;

// Text that is not one JSON document. what() is one line in
// describeJsonFailure's words ("not valid JSON at byte N: <what>"), never
// quoting the text; nesting too deep is
// "not valid JSON at byte N: nested more than 512 levels deep", N being the
// byte that opens the level too many.
class JsonParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The JSON document that is all of `text`. Throws JsonParseError. When the
// text is both nested too deep and broken before that point, the earlier
// fault is the one reported, as the parser alone would.
template <typename Json = nlohmann::json>
Json parseJsonDocument(std::string_view text);

// As parseJsonDocument, but a failure gives a value whose is_discarded() is
// true, as nlohmann::json::parse(text, nullptr, false) does.
template <typename Json = nlohmann::json>
Json parseJsonDocumentOrDiscarded(std::string_view text);

extern template nlohmann::json parseJsonDocument<nlohmann::json>(std::string_view);
extern template nlohmann::ordered_json parseJsonDocument<nlohmann::ordered_json>(std::string_view);
extern template nlohmann::json parseJsonDocumentOrDiscarded<nlohmann::json>(std::string_view);
extern template nlohmann::ordered_json parseJsonDocumentOrDiscarded<nlohmann::ordered_json>(std::string_view);

}  // namespace vantrel
