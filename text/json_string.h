#pragma once
// The one JSON string writer both helpers use. Its byte form is part of the
// contract with the host: quotation mark, backslash and solidus escaped, the
// short escapes for \b \f \n \r \t, \u00XX for other control characters, every
// other character (non-ASCII included) copied as UTF-8.

#include <string>
#include <string_view>

namespace vantrel::text {

// Appends `value` to `out` as a quoted JSON string. `value` is taken as bytes;
// callers check UTF-8 validity of the whole document themselves.
void appendJsonString(std::string& out, std::string_view value);

}  // namespace vantrel::text
