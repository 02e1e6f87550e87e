#pragma once
// Giving TEXT values back exactly as the file has them.
//
// libical's parser strips leading and trailing white space from every value,
// and drops a property whose value is blank, so "Call Bob " would read as
// "Call Bob" and notes of spaces as no notes at all. The file's own content
// lines still hold the exact text: this puts it back into the parsed tree.

#include <libical/ical.h>

#include <string>
#include <string_view>

namespace tallowick::ical {

// A TEXT value as RFC 5545 writes it, unescaped: "\\", "\;", "\," and "\n"
// (or "\N"); other escapes are read as libical reads them, so that both
// readings agree on everything but the blanks at the ends.
std::string unescapeText(std::string_view raw);

// Replaces the SUMMARY, DESCRIPTION and LOCATION values of the VEVENTs and
// VTODOs of `calendar` (parsed from `bytes`) by the exact text of their
// content lines, and restores those that libical dropped for being blank.
// Each component and property is matched to its content line by order; where
// the two readings disagree about anything but the blanks at the ends, that
// kind of property of that component is left as libical read it.
void restoreExactTexts(icalcomponent* calendar, std::string_view bytes);

}  // namespace tallowick::ical
