#include "tallowick/store/eds/icalendar_bridge.h"

#include <set>
#include <string_view>

#include "tallowick/store/icalendar/content_lines.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/new_todo.h"
#include "tallowick/store/icalendar/todo_completion.h"
#include "tallowick/store/icalendar/todo_item.h"

namespace tallowick::eds::icalendar {
namespace {

const std::string calendarBegin = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//tallowick//EN\r\n";
const std::string calendarEnd = "END:VCALENDAR\r\n";

void appendLines(std::string& out, const std::string& text) {
  out += text;
  if (!text.empty() && text.back() != '\n') out += "\r\n";
}

// One VCALENDAR of the zones and the components, as a vdir file holds one item.
std::string calendarText(const std::vector<std::string>& vtimezones, const std::vector<const std::string*>& components) {
  std::string text = calendarBegin;
  for (const std::string& zone : vtimezones) appendLines(text, zone);
  for (const std::string* component : components) appendLines(text, *component);
  return text + calendarEnd;
}

std::optional<Todo> onlyTodo(const zones::ZoneSource& source, const std::string& calendar) {
  std::optional<ical::CalendarFile> file = ical::CalendarFile::parse(calendar, source);
  if (!file) return std::nullopt;
  std::vector<Todo> todos = file->todos();
  if (todos.size() != 1) return std::nullopt;
  return todos.front();
}

// The value of each TZID parameter among a line's parameters (";TZID=...").
void tzidsOf(std::string_view parameters, std::vector<std::string>& out) {
  bool quoted = false;
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (parameters[i] == '"') quoted = !quoted;
    if (quoted || parameters[i] != ';' || ical::upperAscii(parameters.substr(i + 1, 5)) != "TZID=") continue;
    size_t begin = i + 6;
    bool inQuotes = begin < parameters.size() && parameters[begin] == '"';
    size_t stop = inQuotes ? parameters.find('"', ++begin) : parameters.find(';', begin);
    stop = std::min(stop, parameters.size());
    out.emplace_back(parameters.substr(begin, stop - begin));
  }
}

}  // namespace

Occurrences occurrences(const zones::ZoneSource& source, const std::vector<std::string>& vtimezones,
                        const std::vector<const std::string*>& components, Instant start, Instant end) {
  std::optional<ical::CalendarFile> file = ical::CalendarFile::parse(calendarText(vtimezones, components), source);
  return file ? file->occurrenceList(start, end) : Occurrences{};
}

std::optional<Todo> readTodo(const zones::ZoneSource& source, const std::vector<std::string>& vtimezones,
                             const std::string& component) {
  return onlyTodo(source, calendarText(vtimezones, {&component}));
}

std::vector<std::string> foreignTzids(const zones::ZoneSource& source, const std::string& component) {
  std::vector<std::string> named, found;
  ical::ContentLineReader lines(component);
  ical::ContentLine line;
  while (lines.next(line))
    if (line.parameterCount > 0) tzidsOf(line.parameters, named);
  std::set<std::string, std::less<>> seen;
  for (std::string& tzid : named)
    if (!tzid.empty() && seen.insert(tzid).second && ical::systemZoneName(tzid, source).empty())
      found.push_back(std::move(tzid));
  return found;
}

void checkStorable(const Reminder& reminder) { ical::checkStorable(reminder); }

std::string newTaskText(const zones::ZoneSource& source, const Reminder& reminder, const std::string& uid,
                        Instant now) {
  std::string text = ical::newTodoText(reminder, uid, ical::utcStamp(now), source);
  std::optional<Todo> todo = onlyTodo(source, text);
  if (!todo || !ical::holdsReminder(*todo, reminder))
    throw StoreError("Cannot save the reminder: it would not read back as it was given");
  return text;
}

bool holdsOpenReminder(const zones::ZoneSource& source, const std::string& component, const Reminder& reminder) {
  std::optional<Todo> todo = readTodo(source, {}, component);
  return todo && todo->isOpen() && ical::holdsReminder(*todo, reminder);
}

std::optional<std::string> completedTaskText(const zones::ZoneSource& source, const std::string& component,
                                             Instant now) {
  std::string calendar = calendarText({}, {&component});
  std::optional<Todo> before = onlyTodo(source, calendar);
  if (!before) return std::nullopt;
  std::optional<std::string> edited = ical::completeTodoText(calendar, 0, ical::utcStamp(now));
  if (!edited || !edited->starts_with(calendarBegin) || !edited->ends_with(calendarEnd)) return std::nullopt;
  // The edit works on the text, the check on libical's reading of it.
  std::optional<Todo> after = onlyTodo(source, *edited);
  if (!after || !ical::onlyCompleted({*before}, {*after}, 0)) return std::nullopt;
  return edited->substr(calendarBegin.size(), edited->size() - calendarBegin.size() - calendarEnd.size());
}

std::string contentName(const Reminder& reminder, const std::string& list) { return ical::contentName(reminder, list); }

bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b) {
  return ical::sameDue(a, b);
}

std::string utcStamp(Instant instant) { return ical::utcStamp(instant); }

}  // namespace tallowick::eds::icalendar
