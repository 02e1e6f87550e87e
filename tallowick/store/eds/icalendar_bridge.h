#pragma once
// Everything the EDS store takes from the iCalendar layer, in one place: EDS
// hands over component texts, and this reads them exactly as a vdir file is
// read (exact texts, the project's own expansion of any year, the one time
// engine), and writes a new or completed task as the vdir store would.
// Nothing of EDS's own reading is used.
//
// All of it runs on the calling thread; nothing is shared between calls.

#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::eds::icalendar {

using Occurrences = ical::OccurrenceList;
using Todo = ical::TodoItem;

// The occurrences in [start, end] of one item of a calendar: its components
// (VEVENT texts of one UID, the master and its detached instances), read with
// the VTIMEZONE texts `vtimezones`. Empty when they do not parse, or would
// take more than the expansion's budget: such an item is skipped, as a vdir
// file would be.
Occurrences occurrences(const zones::ZoneSource& source, const std::vector<std::string>& vtimezones,
                        const std::vector<const std::string*>& components, Instant start, Instant end);

// One VTODO text read as a todo, with the VTIMEZONE texts `vtimezones`;
// nothing when it does not parse.
std::optional<Todo> readTodo(const zones::ZoneSource& source, const std::vector<std::string>& vtimezones,
                             const std::string& component);

// The TZIDs a component's text names that `source` does not know, each once:
// those need the calendar's own VTIMEZONE.
std::vector<std::string> foreignTzids(const zones::ZoneSource& source, const std::string& component);

// Throws StoreError when the reminder holds what a calendar cannot keep (see
// ical::checkStorable).
void checkStorable(const Reminder& reminder);

// The text of a new task: a VCALENDAR holding one VTODO, as a new vdir file
// has it. Throws StoreError when it would not read back as `reminder`.
std::string newTaskText(const zones::ZoneSource& source, const Reminder& reminder, const std::string& uid,
                        Instant now);

// Whether a task's text is an open todo that holds `reminder`: a new reminder
// saved before under the same UID.
bool holdsOpenReminder(const zones::ZoneSource& source, const std::string& component, const Reminder& reminder);

// The VTODO text `component` completed at `now`: only its STATUS, COMPLETED,
// PERCENT-COMPLETE, LAST-MODIFIED and SEQUENCE change. Nothing when it holds
// no VTODO, or when the edited text would read differently in anything but
// being completed.
std::optional<std::string> completedTaskText(const zones::ZoneSource& source, const std::string& component,
                                             Instant now);

// See ical::contentName.
std::string contentName(const Reminder& reminder, const std::string& list);

// Whether two due dates are the same fields.
bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b);

// "YYYYMMDDTHHMMSSZ".
std::string utcStamp(Instant instant);

}  // namespace tallowick::eds::icalendar
