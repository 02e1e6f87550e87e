#pragma once
// Giving TEXT values back exactly as the file has them.
//
// libical's parser strips leading and trailing white space from every value,
// and drops a property whose value is blank, so "Call Bob " would read as
// "Call Bob" and notes of spaces as no notes at all. The file's own content
// lines still hold the exact text: this puts it back into the parsed tree.

#include <libical/ical.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::ical {

// A TEXT value as RFC 5545 writes it, unescaped: "\\", "\;", "\," and "\n"
// (or "\N"). Any other backslash is kept as written, as other calendar
// programs keep it ("back\slash" stays so, and so does a backslash at the
// end), rather than read as libical reads it.
std::string unescapeText(std::string_view raw);

// A PRIORITY value as a number. libical keeps it in an int, so 2147483648
// would read as -2147483648; here any integer that 64 bits hold is read as
// written; anything else (a number beyond that, no number at all) gives
// nothing, and the caller reads it as 0, RFC 5545's "no priority".
std::optional<int64_t> priorityValue(std::string_view raw);

// Replaces the SUMMARY, DESCRIPTION and LOCATION values of the VEVENTs and
// VTODOs of `calendar` (parsed from `bytes`) by the exact text of their
// content lines, and restores those that libical dropped for being blank.
// Each component and property is matched to its content line by order; where
// the two readings disagree about anything but the blanks at the ends, that
// kind of property of that component is left as libical read it.
//
// Gives back the priority of each VTODO as priorityValue reads it (0 without
// a PRIORITY), in the order libical has them; nothing when the VTODOs of the
// two readings cannot be paired.
std::optional<std::vector<std::optional<int64_t>>> restoreExactTexts(icalcomponent* calendar, std::string_view bytes);

}  // namespace tallowick::ical
