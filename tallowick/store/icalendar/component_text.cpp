#include "tallowick/store/icalendar/component_text.h"

#include "text/utf8.h"

namespace tallowick::ical {

std::optional<std::string> textProperty(icalcomponent* component, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(component, kind);
  if (!property) return std::nullopt;
  icalvalue* value = icalproperty_get_value(property);
  const char* text = value ? icalvalue_get_text(value) : nullptr;
  return vantrel::text::repairUtf8(text ? text : "");
}

}  // namespace tallowick::ical
