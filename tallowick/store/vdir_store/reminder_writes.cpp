// Saving reminders in vdir folders: a new one as a new file, a completion as
// an edit of the file's text, both compare-and-swap against every other
// writer.
#include <algorithm>
#include <chrono>

#include "common/paths.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/new_todo.h"
#include "tallowick/store/icalendar/todo_completion.h"
#include "tallowick/store/vdir/atomic_file.h"
#include "tallowick/store/vdir/write_lock.h"
#include "tallowick/store/vdir_store/vdir_store.h"

namespace tallowick::ical {

Reminder VdirStore::newReminder() { return Reminder{}; }

// Writes at once whatever `commit` says: there is no batch to commit later.
void VdirStore::saveReminder(Reminder& reminder, bool) {
  if (reminder.identifier.empty()) saveNew(reminder);
  else saveCompletion(reminder);
}

namespace {

// A name clash with a fresh UUID means the generator is broken; a few tries
// are plenty.
constexpr int maxCreateAttempts = 3;

bool sameCalendar(const std::optional<Calendar>& a, const std::optional<Calendar>& b) {
  if (!a || !b) return !a && !b;
  return a->identifier == b->identifier;
}

Instant nowOf(Env& env) { return Instant(std::chrono::microseconds(env.nowMicros())); }

}  // namespace

void VdirStore::saveNew(Reminder& reminder) {
  if (!reminder.calendar) throw StoreError("Cannot save a reminder without a list");
  const std::string name = reminder.calendar->identifier;
  if (std::none_of(collections().begin(), collections().end(), [&](const Collection& c) { return c.name == name; }))
    throw StoreError("No reminder list " + collectionPath(name));
  checkStorable(reminder);
  Env& fs = *config_.env;
  WriteLock lock(fs, config_.lockFile);
  removeStaleTempFiles(fs, collectionPath(name));
  const std::string now = utcStamp(nowOf(fs));
  // First the UID the reminder's content names, when the store derives one:
  // an open todo of the same content there is this very reminder, saved by a
  // run that did not live to say so. Then fresh ones.
  const std::string derived = config_.uuidOf ? config_.uuidOf(contentName(reminder, name)) : std::string();
  for (int attempt = derived.empty() ? 1 : 0; attempt <= maxCreateAttempts; ++attempt) {
    const std::string uid = attempt == 0 ? derived : config_.newUuid();
    const std::string item = uid + ".ics";
    const std::string path = collectionPath(name) + "/" + item;
    if (attempt == 0) {
      std::optional<FileVersion> existing = readVersion(fs, path, ParseLimits{}.bytes);
      std::optional<CalendarFile> file =
          existing ? CalendarFile::parse(existing->bytes, *config_.zones) : std::optional<CalendarFile>();
      std::vector<TodoItem> todos = file ? file->todos() : std::vector<TodoItem>{};
      if (todos.size() == 1 && todos[0].isOpen() && holdsReminder(todos[0], reminder)) {
        reminder.identifier = name + "/" + item + "/0";
        snapshots_[reminder.identifier] = Snapshot{path, stampFrom(existing->info), 0, reminder};
        return;
      }
    }
    const std::string text = newTodoText(reminder, uid, now, *config_.zones);
    // The file must give back exactly what it was given, or it is not written.
    std::optional<CalendarFile> parsed = CalendarFile::parse(text, *config_.zones);
    std::vector<TodoItem> todos = parsed ? parsed->todos() : std::vector<TodoItem>{};
    if (todos.size() != 1 || !holdsReminder(todos[0], reminder))
      throw StoreError("Cannot save the reminder: it would not read back as it was given");
    if (createFileExclusively(fs, path, text)) {
      reminder.identifier = name + "/" + item + "/0";
      snapshots_[reminder.identifier] = Snapshot{path, stampOf(fs, path).value_or(FileStamp{}), 0, reminder};
      return;
    }
  }
  throw StoreError("Cannot create a new reminder in " + collectionPath(name) + ": every new file name was taken");
}

void VdirStore::saveCompletion(Reminder& reminder) {
  auto it = snapshots_.find(reminder.identifier);
  if (it == snapshots_.end()) throw StoreError("Cannot save reminder " + reminder.identifier + ": it was not read from this store");
  Snapshot& snapshot = it->second;
  const Reminder& before = snapshot.reminder;
  if (reminder.title != before.title || reminder.notes != before.notes || reminder.priority != before.priority ||
      !sameCalendar(reminder.calendar, before.calendar) ||
      !sameDue(reminder.dueDateComponents, before.dueDateComponents) ||
      (before.isCompleted && !reminder.isCompleted))
    throw StoreError("Cannot save " + snapshot.path + ": only completing a reminder is supported");
  if (reminder.isCompleted == before.isCompleted) return;

  Env& fs = *config_.env;
  WriteLock lock(fs, config_.lockFile);
  removeStaleTempFiles(fs, vantrel::directoryOf(snapshot.path));
  // The listing may have come from the cache, so the file itself decides: it
  // must be the version listed and still hold that todo, open and unchanged.
  const std::string changed = snapshot.path + " changed on disk since it was read; the reminder was not saved";
  std::optional<FileVersion> current = readVersion(fs, snapshot.path, ParseLimits{}.bytes);
  if (!current || stampFrom(current->info) != snapshot.stamp) throw StoreError(changed);
  std::optional<CalendarFile> file = CalendarFile::parse(current->bytes, *config_.zones);
  std::vector<TodoItem> todos = file ? file->todos() : std::vector<TodoItem>{};
  if (snapshot.index < 0 || static_cast<size_t>(snapshot.index) >= todos.size() ||
      !todos[snapshot.index].isOpen() || !holdsReminder(todos[snapshot.index], before))
    throw StoreError(changed);
  std::optional<std::string> edited = completeTodoText(current->bytes, snapshot.index, utcStamp(nowOf(fs)));
  if (!edited) throw StoreError("Cannot find the reminder in " + snapshot.path + "; it was not saved");
  // The edit works on the text, the listing on libical's reading of it; where
  // the two could see different todos, the file is left alone.
  std::optional<CalendarFile> result = CalendarFile::parse(*edited, *config_.zones);
  if (!result || !onlyCompleted(todos, result->todos(), static_cast<size_t>(snapshot.index)))
    throw StoreError("Cannot complete the reminder in " + snapshot.path +
                     " safely: the file reads differently than expected; it was not saved");
  replaceFileIfUnchanged(fs, snapshot.path, *current, *edited, changed);
  snapshot.stamp = stampOf(fs, snapshot.path).value_or(FileStamp{});
  snapshot.reminder = reminder;
}

}  // namespace tallowick::ical
