#include "tallowick/store/ical/new_todo.h"

#include <cstdio>

#include "tallowick/store/ical/ical_time.h"

namespace tallowick::ical {
namespace {

constexpr size_t maxOctets = 75;

std::string dueLine(const DateComponents& due) {
  char buffer[64];
  int year = due.year.value_or(1970), month = due.month.value_or(1), day = due.day.value_or(1);
  if (!due.hour) {
    std::snprintf(buffer, sizeof buffer, "DUE;VALUE=DATE:%04d%02d%02d", year, month, day);
    return buffer;
  }
  int hour = *due.hour, minute = due.minute.value_or(0), second = due.second.value_or(0);
  if (due.timeZone) {
    ZonedTime zoned{icaltime_null_time(), *due.timeZone == "UTC" ? std::string() : *due.timeZone};
    zoned.wall.year = year;
    zoned.wall.month = month;
    zoned.wall.day = day;
    zoned.wall.hour = hour;
    zoned.wall.minute = minute;
    zoned.wall.second = second;
    if (*due.timeZone == "UTC") zoned.wall.zone = icaltimezone_get_utc_timezone();
    return "DUE:" + utcStamp(instantOf(zoned, nullptr));
  }
  std::snprintf(buffer, sizeof buffer, "DUE:%04d%02d%02dT%02d%02d%02d", year, month, day, hour, minute, second);
  return buffer;
}

}  // namespace

std::string escapeText(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ';': out += "\\;"; break;
      case ',': out += "\\,"; break;
      case '\n': out += "\\n"; break;
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      default: out += c;
    }
  }
  return out;
}

std::string foldLine(const std::string& line) {
  std::string out;
  size_t pos = 0;
  size_t limit = maxOctets;  // continuation lines lose one octet to the blank
  while (line.size() - pos > limit) {
    size_t cut = pos + limit;
    while (cut > pos && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line, pos, cut - pos);
    out += "\r\n ";
    pos = cut;
    limit = maxOctets - 1;
  }
  out.append(line, pos, std::string::npos);
  out += "\r\n";
  return out;
}

std::string newTodoText(const Reminder& reminder, const std::string& uid, const std::string& nowUtc) {
  std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//tallowick//EN\r\nBEGIN:VTODO\r\n";
  out += foldLine("UID:" + uid);
  out += "DTSTAMP:" + nowUtc + "\r\nCREATED:" + nowUtc + "\r\nLAST-MODIFIED:" + nowUtc + "\r\n";
  out += foldLine("SUMMARY:" + escapeText(reminder.title.value_or("")));
  out += "PRIORITY:" + std::to_string(reminder.priority) + "\r\n";
  out += "STATUS:NEEDS-ACTION\r\n";
  if (reminder.notes) out += foldLine("DESCRIPTION:" + escapeText(*reminder.notes));
  if (reminder.dueDateComponents && reminder.dueDateComponents->year) out += dueLine(*reminder.dueDateComponents) + "\r\n";
  out += "END:VTODO\r\nEND:VCALENDAR\r\n";
  return out;
}

}  // namespace tallowick::ical
