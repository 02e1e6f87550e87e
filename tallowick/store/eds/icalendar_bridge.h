#pragma once
// Everything the EDS store takes from the iCalendar layer of the vdir store,
// in one place: EDS hands over component texts, and this reads them exactly
// as a vdir file is read (exact texts, the project's own expansion of any
// year, the system's zone data), and writes a new or completed task as the
// vdir store would. Nothing of EDS's own reading is used.
//
// All of it runs on the calling thread; nothing is shared between calls.

#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/ical/calendar_file.h"

namespace tallowick::eds::icalendar {

using Occurrences = ical::OccurrenceList;
using Todo = ical::TodoItem;

// The occurrences in [start, end] of one item of a calendar: its components
// (VEVENT texts of one UID, the master and its detached instances), read with
// the VTIMEZONE texts `zones`. Empty when they do not parse, or would take
// more than the expansion's budget: such an item is skipped, as a vdir file
// would be.
Occurrences occurrences(const std::vector<std::string>& zones, const std::vector<const std::string*>& components,
                        Instant start, Instant end);

// One VTODO text read as a todo, with the VTIMEZONE texts `zones`; nothing
// when it does not parse.
std::optional<Todo> readTodo(const std::vector<std::string>& zones, const std::string& component);

// The TZIDs a component's text names that the system's zone data does not
// know, each once: those need the calendar's own VTIMEZONE.
std::vector<std::string> foreignTzids(const std::string& component);

// Throws StoreError when the reminder holds what a calendar cannot keep (see
// ical::checkStorable).
void checkStorable(const Reminder& reminder);

// The text of a new task: a VCALENDAR holding one VTODO, as a new vdir file
// has it. Throws StoreError when it would not read back as `reminder`.
std::string newTaskText(const Reminder& reminder, const std::string& uid, Instant now);

// The VTODO text `component` completed at `now`: only its STATUS, COMPLETED,
// PERCENT-COMPLETE, LAST-MODIFIED and SEQUENCE change. Nothing when it holds
// no VTODO, or when the edited text would read differently in anything but
// being completed.
std::optional<std::string> completedTaskText(const std::string& component, Instant now);

// Whether two due dates are the same fields.
bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b);

// "YYYYMMDDTHHMMSSZ".
std::string utcStamp(Instant instant);

}  // namespace tallowick::eds::icalendar
