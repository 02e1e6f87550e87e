#include "tallowick/store/icalendar/new_todo.h"

#include <cstdio>
#include <optional>

#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/zones/civil.h"

namespace tallowick::ical {
namespace {

constexpr size_t maxOctets = 75;
// iCalendar's PRIORITY: 0 for none, 1 highest to 9 lowest.
constexpr int64_t minPriority = 0;
constexpr int64_t maxPriority = 9;

std::string dueLine(const DateComponents& due, const zones::ZoneSource& source) {
  char buffer[64];
  int year = due.year.value_or(1970), month = due.month.value_or(1), day = due.day.value_or(1);
  if (!due.hour) {
    std::snprintf(buffer, sizeof buffer, "DUE;VALUE=DATE:%04d%02d%02d", year, month, day);
    return buffer;
  }
  int hour = *due.hour, minute = due.minute.value_or(0), second = due.second.value_or(0);
  if (due.timeZone) {
    int64_t wall = zones::wallSeconds(year, month, day, hour, minute, second);
    std::string name = systemZoneName(*due.timeZone, source);
    const zones::ZoneRules& zone = name.empty() ? source.local() : *source.find(name);
    return "DUE:" + utcStamp(Instant(std::chrono::seconds(zone.utcOf(wall))));
  }
  std::snprintf(buffer, sizeof buffer, "DUE:%04d%02d%02dT%02d%02d%02d", year, month, day, hour, minute, second);
  return buffer;
}

// The first control character that a TEXT value cannot hold, if any.
std::optional<unsigned char> forbiddenControl(const std::string& text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F) return byte;
  }
  return std::nullopt;
}

void checkText(const std::optional<std::string>& text, const char* what) {
  if (!text) return;
  if (std::optional<unsigned char> control = forbiddenControl(*text)) {
    char code[8];
    std::snprintf(code, sizeof code, "U+%04X", *control);
    throw StoreError(std::string("Cannot save the reminder: its ") + what + " the control character " + code +
                     ", which a calendar file cannot hold");
  }
}

}  // namespace

void checkStorable(const Reminder& reminder) {
  checkText(reminder.title, "title holds");
  checkText(reminder.notes, "notes hold");
  if (reminder.priority < minPriority || reminder.priority > maxPriority)
    throw StoreError("Cannot save the reminder: priority " + std::to_string(reminder.priority) +
                     " is outside 0 to 9, the priorities a calendar file holds");
  if (const std::optional<DateComponents>& due = reminder.dueDateComponents; due && due->year) {
    if (*due->year < 1 || *due->year > 9999)
      throw StoreError("Cannot save the reminder: its due date is outside the years 1 to 9999");
  }
}

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

std::string newTodoText(const Reminder& reminder, const std::string& uid, const std::string& nowUtc,
                        const zones::ZoneSource& zones) {
  std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//tallowick//EN\r\nBEGIN:VTODO\r\n";
  out += foldLine("UID:" + uid);
  out += "DTSTAMP:" + nowUtc + "\r\nCREATED:" + nowUtc + "\r\nLAST-MODIFIED:" + nowUtc + "\r\n";
  out += foldLine("SUMMARY:" + escapeText(reminder.title.value_or("")));
  out += "PRIORITY:" + std::to_string(reminder.priority) + "\r\n";
  out += "STATUS:NEEDS-ACTION\r\n";
  if (reminder.notes) out += foldLine("DESCRIPTION:" + escapeText(*reminder.notes));
  if (reminder.dueDateComponents && reminder.dueDateComponents->year) out += dueLine(*reminder.dueDateComponents, zones) + "\r\n";
  out += "END:VTODO\r\nEND:VCALENDAR\r\n";
  return out;
}

}  // namespace tallowick::ical
