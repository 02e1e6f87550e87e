#pragma once
// Reading the text properties of a component, as valid UTF-8.

#include <libical/ical.h>

#include <optional>
#include <string>

namespace tallowick::ical {

// The value of the first property of that kind, unescaped and repaired to
// valid UTF-8; nothing when the component has no such property.
std::optional<std::string> textProperty(icalcomponent* component, icalproperty_kind kind);

}  // namespace tallowick::ical
