#include "tallowick/store/eds/icalendar_bridge.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <string_view>

#include "tallowick/store/ical/ical_time.h"
#include "tallowick/store/ical/new_todo.h"
#include "tallowick/store/ical/todo_completion.h"

namespace tallowick::eds::icalendar {
namespace {

const std::string calendarBegin = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//tallowick//EN\r\n";
const std::string calendarEnd = "END:VCALENDAR\r\n";

void appendLines(std::string& out, const std::string& text) {
  out += text;
  if (!text.empty() && text.back() != '\n') out += "\r\n";
}

// One VCALENDAR of the zones and the components, as a vdir file holds one item.
std::string calendarText(const std::vector<std::string>& zones, const std::vector<const std::string*>& components) {
  std::string text = calendarBegin;
  for (const std::string& zone : zones) appendLines(text, zone);
  for (const std::string* component : components) appendLines(text, *component);
  return text + calendarEnd;
}

std::optional<Todo> onlyTodo(const std::string& calendar) {
  std::optional<ical::CalendarFile> file = ical::CalendarFile::parse(calendar);
  if (!file) return std::nullopt;
  std::vector<Todo> todos = file->todos();
  if (todos.size() != 1) return std::nullopt;
  return todos.front();
}

bool readsAs(const Todo& todo, const Reminder& meant) {
  auto fields = [](const std::optional<DateComponents>& d) {
    return d ? std::optional(std::array<int, 6>{d->year.value_or(-1), d->month.value_or(-1), d->day.value_or(-1),
                                                d->hour.value_or(-1), d->minute.value_or(-1), d->second.value_or(0)})
             : std::nullopt;
  };
  auto zone = [](const std::optional<DateComponents>& d) { return d ? d->timeZone : std::nullopt; };
  return todo.title.value_or("") == meant.title.value_or("") && todo.notes == meant.notes &&
         todo.priority == meant.priority && fields(todo.due) == fields(meant.dueDateComponents) &&
         zone(todo.due) == zone(meant.dueDateComponents);
}

// The text with folded lines joined.
std::string unfolded(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 2 < text.size() && text[i + 1] == '\n' && (text[i + 2] == ' ' || text[i + 2] == '\t')) {
      i += 2;
      continue;
    }
    if (text[i] == '\n' && i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t')) {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

Occurrences occurrences(const std::vector<std::string>& zones, const std::vector<const std::string*>& components,
                        Instant start, Instant end) {
  std::optional<ical::CalendarFile> file = ical::CalendarFile::parse(calendarText(zones, components));
  return file ? file->occurrenceList(start, end) : Occurrences{};
}

std::optional<Todo> readTodo(const std::vector<std::string>& zones, const std::string& component) {
  return onlyTodo(calendarText(zones, {&component}));
}

std::vector<std::string> foreignTzids(const std::string& component) {
  std::vector<std::string> found;
  std::set<std::string, std::less<>> seen;
  const std::string text = unfolded(component);
  // Each line's parameters, up to the first colon outside quotes: a TZID
  // parameter's value is quoted, or runs to the next ';' or ':'.
  for (size_t start = 0; start < text.size();) {
    size_t lf = text.find('\n', start);
    std::string_view line =
        std::string_view(text).substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    start = lf == std::string::npos ? text.size() : lf + 1;
    bool quoted = false;
    for (size_t i = 0; i < line.size() && (quoted || line[i] != ':'); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (quoted || line[i] != ';') continue;
      std::string name(line.substr(i + 1, 5));
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (name != "TZID=") continue;
      size_t begin = i + 6;
      bool inQuotes = begin < line.size() && line[begin] == '"';
      size_t stop = inQuotes ? line.find('"', ++begin) : line.find_first_of(";:\r", begin);
      stop = std::min(stop, line.size());
      std::string tzid(line.substr(begin, stop - begin));
      if (!tzid.empty() && seen.insert(tzid).second && ical::systemZoneName(tzid).empty())
        found.push_back(std::move(tzid));
      break;  // one TZID per line
    }
  }
  return found;
}

void checkStorable(const Reminder& reminder) { ical::checkStorable(reminder); }

std::string newTaskText(const Reminder& reminder, const std::string& uid, Instant now) {
  std::string text = ical::newTodoText(reminder, uid, ical::utcStamp(now));
  std::optional<Todo> todo = onlyTodo(text);
  if (!todo || !readsAs(*todo, reminder))
    throw StoreError("Cannot save the reminder: it would not read back as it was given");
  return text;
}

std::optional<std::string> completedTaskText(const std::string& component, Instant now) {
  std::string calendar = calendarText({}, {&component});
  std::optional<Todo> before = onlyTodo(calendar);
  if (!before) return std::nullopt;
  std::optional<std::string> edited = ical::completeTodoText(calendar, 0, ical::utcStamp(now));
  if (!edited || !edited->starts_with(calendarBegin) || !edited->ends_with(calendarEnd)) return std::nullopt;
  // The edit works on the text, the check on libical's reading of it.
  Todo expected = *before;
  expected.isCompleted = true;
  std::optional<Todo> after = onlyTodo(*edited);
  if (!after || !(*after == expected)) return std::nullopt;
  return edited->substr(calendarBegin.size(), edited->size() - calendarBegin.size() - calendarEnd.size());
}

bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b) {
  return ical::sameDue(a, b);
}

std::string utcStamp(Instant instant) { return ical::utcStamp(instant); }

}  // namespace tallowick::eds::icalendar
