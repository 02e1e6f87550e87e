#pragma once
// Unicode text rules shared by both helpers: equality under canonical
// equivalence, user-perceived characters (extended grapheme clusters), and the
// two trimming sets. All inputs are valid UTF-8.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::text {

// Equality under canonical equivalence: a precomposed letter equals the same
// letter written with a combining mark. No case folding. ASCII is compared
// bytewise without normalising.
bool canonicallyEqual(std::string_view a, std::string_view b);

std::string toNfc(std::string_view text);

// Number of user-perceived characters.
size_t graphemeCount(std::string_view text);

// Byte length of the first `count` user-perceived characters of `text` (the
// whole length when it has fewer).
size_t graphemePrefixBytes(std::string_view text, size_t count);

// Whether a user-perceived character boundary lies at byte `offset` of `text`.
// 0 and text.size() are boundaries.
bool isGraphemeBoundary(std::string_view text, size_t offset);

// Blanks: tab and the Unicode space separators (general category Zs). Line
// breaks are not blanks.
std::string_view trimBlanks(std::string_view text);

// White space and line breaks: Zs, U+0009 to U+000D, U+0085, U+2028, U+2029.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace vantrel::text
