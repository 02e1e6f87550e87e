#pragma once
// One VTODO as a calendar file reads, and the comparisons every write makes
// with it: a new todo must read back as the reminder it was made from, and a
// todo about to be completed must still be the one that was listed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

// One VTODO, without its list. `index` counts the file's VTODOs from 0 in
// file order; it finds the same todo again in the same bytes.
struct TodoItem {
  int index = 0;
  std::optional<std::string> title;
  std::optional<std::string> notes;
  std::optional<DateComponents> due;
  bool isCompleted = false;  // STATUS:COMPLETED or a COMPLETED property
  bool isCancelled = false;
  int64_t priority = 0;
  bool operator==(const TodoItem& other) const;
  bool isOpen() const { return !isCompleted && !isCancelled; }
};

// Whether two due dates name the same fields (both absent counts as the same).
bool sameDue(const std::optional<DateComponents>& a, const std::optional<DateComponents>& b);

// Whether the todo holds what the reminder says: title (absent reads as ""),
// notes, priority and due date (a missing second is 0), whatever its state.
bool holdsReminder(const TodoItem& todo, const Reminder& reminder);

// Whether `after` is `before` with the todo at `index` completed and every
// other todo as it was.
bool onlyCompleted(const std::vector<TodoItem>& before, const std::vector<TodoItem>& after, size_t index);

// What a new reminder holds, as one text naming its list, title, notes,
// priority and due date: the name of a UID derived from the reminder. A run
// killed after its new reminder landed, and then run again, finds that
// reminder under the same UID instead of adding a second one.
std::string contentName(const Reminder& reminder, const std::string& list);

}  // namespace tallowick::ical
