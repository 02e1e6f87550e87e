#include "tallowick/store/icalendar/todo_item.h"

namespace tallowick::ical {

bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b) {
  if (!a || !b) return !a && !b;
  return a->year == b->year && a->month == b->month && a->day == b->day && a->hour == b->hour &&
         a->minute == b->minute && a->second == b->second && a->timeZone == b->timeZone;
}

bool TodoItem::operator==(const TodoItem& o) const {
  return index == o.index && title == o.title && notes == o.notes && sameDue(due, o.due) &&
         isCompleted == o.isCompleted && isCancelled == o.isCancelled && priority == o.priority;
}

bool holdsReminder(const TodoItem& todo, const Reminder& reminder) {
  auto withSecond = [](std::optional<DateComponents> due) {
    if (due && due->hour && !due->second) due->second = 0;
    return due;
  };
  return todo.title.value_or("") == reminder.title.value_or("") && todo.notes == reminder.notes &&
         todo.priority == reminder.priority && sameDue(withSecond(todo.due), withSecond(reminder.dueDateComponents));
}

bool onlyCompleted(const std::vector<TodoItem>& before, const std::vector<TodoItem>& after, size_t index) {
  if (before.size() != after.size()) return false;
  for (size_t i = 0; i < before.size(); ++i) {
    TodoItem expected = before[i];
    if (i == index) expected.isCompleted = true;
    if (!(after[i] == expected)) return false;
  }
  return true;
}

std::string contentName(const Reminder& r, const std::string& list) {
  std::string name = "list\n";
  name.append(list).append("\ntitle\n").append(r.title.value_or("")).append("\npriority\n");
  name += std::to_string(r.priority);
  if (r.notes) name.append("\nnotes\n").append(*r.notes);
  if (const std::optional<DateComponents>& d = r.dueDateComponents) {
    name += "\ndue";
    for (const std::optional<int>& field : {d->year, d->month, d->day, d->hour, d->minute, d->second}) {
      name += ' ';
      name += field ? std::to_string(*field) : "-";
    }
    if (d->timeZone) name.append(" ").append(*d->timeZone);
  }
  return name;
}

}  // namespace tallowick::ical
