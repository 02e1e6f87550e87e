#pragma once
// The one line an error becomes on stderr. The host reads stderr as a single
// message line, so what an error carries (argument text, file names, a
// library's message) must neither break that line up nor garble it.

#include <exception>
#include <string>
#include <string_view>

namespace vantrel {

// Makes `text` one printable line of valid UTF-8: ill-formed bytes become
// U+FFFD, every line break (LF, CR, VT, FF, NEL, U+2028, U+2029) a space, and
// any other control character except tab U+FFFD. Empty or all-space text
// becomes "Unknown error". A text that already is such a line comes back
// unchanged, so fixed messages stay byte for byte.
std::string oneLine(std::string_view text);

// One "<name>: <value>" line of a doctor's report, line feed included, made
// one printable line as oneLine does: names and values come from files and
// from services, and a line break or an escape sequence in them must not
// forge a line or drive the terminal.
std::string factLine(std::string_view name, std::string_view value);

// The line the entry prints for an error: what() of any std::exception (each
// program's HelperError carries its message there), through oneLine;
// "Unknown error" for anything else.
std::string describeError(std::exception_ptr error);

}  // namespace vantrel
