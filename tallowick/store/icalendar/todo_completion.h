#pragma once
// Marking a VTODO completed by editing the file's text, not by re-serialising
// it: libical would refold lines, change line endings and turn unknown or bad
// properties into X-LIC-ERROR. Only STATUS, COMPLETED, PERCENT-COMPLETE,
// LAST-MODIFIED and SEQUENCE of the one VTODO change; every other byte stays.

#include <optional>
#include <string>
#include <string_view>

namespace tallowick::ical {

// The file's text with the VTODO number `todoIndex` (0-based, in file order,
// directly inside VCALENDAR) completed at `nowUtc` ("YYYYMMDDTHHMMSSZ").
// Nothing when the file has no such VTODO.
std::optional<std::string> completeTodoText(std::string_view text, int todoIndex, std::string_view nowUtc);

}  // namespace tallowick::ical
