#include "tallowick/store/vdir_store/ical_store.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <tuple>

#include "common/paths.h"
#include "tallowick/store/vdir/atomic_file.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/ical_time.h"
#include "tallowick/store/icalendar/new_todo.h"
#include "tallowick/store/vdir/settings.h"
#include "tallowick/store/icalendar/todo_completion.h"
#include "tallowick/store/vdir/write_lock.h"
#include "text/unicode.h"

namespace tallowick::ical {
namespace {

// A name clash with a fresh UUID means the generator is broken; a few tries
// are plenty.
constexpr int maxCreateAttempts = 3;

Calendar calendarOf(const Collection& c) { return {c.name, c.title}; }

bool sameCalendar(const std::optional<Calendar>& a, const std::optional<Calendar>& b) {
  if (!a || !b) return !a && !b;
  return a->identifier == b->identifier;
}

// Whether a todo as it reads now is the open one that was listed.
bool matchesListed(const TodoItem& todo, const Reminder& listed) {
  return !todo.isCompleted && !todo.isCancelled && todo.title == listed.title && todo.notes == listed.notes &&
         todo.priority == listed.priority && sameDue(todo.due, listed.dueDateComponents);
}

Instant nowOf(Env& env) { return Instant(std::chrono::microseconds(env.nowMicros())); }

}  // namespace

std::string storeRoot(const IcalStoreConfig& config, const std::optional<std::string>& configured) {
  if (!configured || configured->empty()) return config.defaultRoot;
  return vantrel::resolveSettingsPath(*configured, config.settingsFile, config.home);
}

int IcalPlatform::authorizationStatus(EntityType type) {
  return readAccessState(*config_.env, config_.settingsFile, type);
}

std::unique_ptr<CalendarStore> IcalPlatform::openStore() {
  Settings settings = readSettings(*config_.env, config_.settingsFile);
  std::string root = storeRoot(config_, settings.store);
  return std::make_unique<IcalStore>(config_, std::move(root), settings.defaultReminderList);
}

IcalStore::IcalStore(IcalStoreConfig config, std::string root, std::optional<std::string> defaultListTitle)
    : config_(std::move(config)),
      root_(std::move(root)),
      defaultListTitle_(std::move(defaultListTitle)),
      cache_(*config_.env, config_.cacheFile, root_) {}

void IcalStore::requestFullAccessToEvents(AccessCompletion completion) {
  requestAccess(EntityType::event, std::move(completion));
}

void IcalStore::requestFullAccessToReminders(AccessCompletion completion) {
  requestAccess(EntityType::reminder, std::move(completion));
}

void IcalStore::requestAccess(EntityType type, AccessCompletion completion) {
  int state = readAccessState(*config_.env, config_.settingsFile, type);
  if (state != auth_status::notDetermined) {
    completion(state == auth_status::fullAccess, std::nullopt);
    return;
  }
  PromptAnswer answer = config_.prompt ? config_.prompt(type) : PromptAnswer::unanswered;
  // Nobody could be asked: nothing is recorded, so the next run asks again.
  if (answer == PromptAnswer::unanswered) {
    completion(false, std::nullopt);
    return;
  }
  bool granted = answer == PromptAnswer::granted;
  try {
    recordAccessState(*config_.env, config_.settingsFile, type, granted, config_.lockFile);
  } catch (const StoreError& e) {
    completion(false, std::string(e.what()));
    return;
  }
  completion(granted, std::nullopt);
}

const std::vector<Collection>& IcalStore::collections() {
  if (!collections_) collections_ = listCollections(*config_.env, root_);
  return *collections_;
}

std::vector<Calendar> IcalStore::calendars(EntityType) {
  std::vector<Calendar> out;
  for (const Collection& c : collections()) out.push_back(calendarOf(c));
  return out;
}

std::optional<Calendar> IcalStore::defaultCalendarForNewReminders() {
  if (!defaultListTitle_) return std::nullopt;
  for (const Collection& c : collections())
    if (vantrel::text::canonicallyEqual(c.title, *defaultListTitle_)) return calendarOf(c);
  return std::nullopt;
}

std::vector<std::vector<Item>> IcalStore::itemsOf(const std::vector<const Collection*>& wanted) {
  // The directories are read while the cache loads; then the status calls
  // are made in ranges small enough that both threads stay busy to the end,
  // whatever the sizes of the collections.
  std::vector<std::optional<ItemScan>> scans(wanted.size());
  Env& env = *config_.env;
  env.parallelFor(wanted.size() + 1, [&](size_t i) {
    if (i == 0) cache_.load();
    else scans[i - 1].emplace(env, collectionPath(wanted[i - 1]->name));
  });
  constexpr size_t namesPerRange = 256;
  struct Range {
    ItemScan* scan;
    size_t begin;
  };
  std::vector<Range> ranges;
  for (std::optional<ItemScan>& scan : scans)
    for (size_t begin = 0; begin < scan->size(); begin += namesPerRange) ranges.push_back({&*scan, begin});
  env.parallelFor(ranges.size(),
                  [&](size_t i) { ranges[i].scan->stat(ranges[i].begin, ranges[i].begin + namesPerRange); });
  std::vector<std::vector<Item>> items;
  items.reserve(scans.size());
  for (std::optional<ItemScan>& scan : scans) items.push_back(scan->take());
  return items;
}

namespace {

// Every file's occurrences, compact, with one index by start over all of
// them: an Event is a few hundred bytes, an entry of the index sixteen.
class IcalEventListing : public EventListing {
 public:
  void addFile(Calendar calendar, OccurrenceList occurrences) {
    files_.push_back({std::move(calendar), std::move(occurrences)});
  }

  // Stable by start: events that start together keep the store's order.
  void sort() {
    size_t total = 0;
    for (const File& f : files_) total += f.occurrences.size();
    order_.reserve(total);
    for (uint32_t f = 0; f < files_.size(); ++f) {
      const auto& entries = files_[f].occurrences.entries();
      for (uint32_t i = 0; i < entries.size(); ++i) order_.push_back({entries[i].start.time_since_epoch().count(), f, i});
    }
    // File and entry are the store's order, so they break ties.
    auto earlier = [](const Position& a, const Position& b) {
      return std::tie(a.start, a.file, a.entry) < std::tie(b.start, b.file, b.entry);
    };
    if (!std::is_sorted(order_.begin(), order_.end(), earlier)) std::sort(order_.begin(), order_.end(), earlier);
  }

  size_t size() const override { return order_.size(); }

  void get(size_t i, Event& into) const override {
    const File& file = files_[order_[i].file];
    const OccurrenceList::Entry& e = file.occurrences.entries()[order_[i].entry];
    const EventTexts& texts = file.occurrences.texts()[e.texts];
    into.title = texts.title;
    into.startDate = e.start;
    into.endDate = e.end;
    into.isAllDay = e.isAllDay;
    into.location = texts.location;
    into.notes = texts.notes;
    into.calendar = file.calendar;
  }

 private:
  struct File {
    Calendar calendar;
    OccurrenceList occurrences;
  };
  struct Position {
    Instant::rep start;
    uint32_t file;
    uint32_t entry;
  };

  std::vector<File> files_;
  std::vector<Position> order_;
};

}  // namespace

std::vector<Event> IcalStore::events(const EventQuery& query) {
  std::unique_ptr<EventListing> listing = listEvents(query);
  std::vector<Event> out(listing->size());
  for (size_t i = 0; i < out.size(); ++i) listing->get(i, out[i]);
  return out;
}

std::unique_ptr<EventListing> IcalStore::listEvents(const EventQuery& query) {
  std::vector<const Collection*> all;
  for (const Collection& collection : collections()) all.push_back(&collection);
  std::vector<std::vector<Item>> items = itemsOf(all);

  // The files that may have something in the window, in store order.
  struct Candidate {
    const Collection* collection;
    const Item* item;
    std::string relative;
    bool summarized;
  };
  std::vector<Candidate> candidates;
  std::string relative;  // reused: most files are passed over
  for (size_t c = 0; c < all.size(); ++c) {
    for (const Item& item : items[c]) {
      relative.assign(all[c]->name).append(1, '/').append(item.name);
      const FileSummary* cached = cache_.find(relative, item.stamp);
      if (cached && !mayOverlap(*cached, query.start, query.end)) continue;
      candidates.push_back({all[c], &item, relative, cached != nullptr});
    }
  }

  // Reading, parsing and expanding is the rest of the time; each file on its
  // own, so two threads share them and the results keep the store order.
  struct Found {
    std::optional<FileSummary> summary;
    OccurrenceList occurrences;
  };
  std::vector<Found> found(candidates.size());
  config_.env->parallelFor(candidates.size(), [&](size_t i) {
    const Candidate& candidate = candidates[i];
    std::optional<std::string> bytes = readWholeFile(
        *config_.env, collectionPath(candidate.collection->name) + "/" + candidate.item->name, ParseLimits{}.bytes);
    if (!bytes) return;
    std::optional<CalendarFile> file = CalendarFile::parse(*bytes, *config_.zones);
    // Recorded under the stamp taken before reading: if the file changed in
    // between, the next run sees a new stamp and reads it again.
    if (!candidate.summarized) found[i].summary = summarize(file);
    if (file) found[i].occurrences = file->occurrenceList(query.start, query.end);
  });

  auto listing = std::make_unique<IcalEventListing>();
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& candidate = candidates[i];
    if (found[i].summary) cache_.record(candidate.relative, candidate.item->stamp, std::move(*found[i].summary));
    if (found[i].occurrences.size() > 0)
      listing->addFile(calendarOf(*candidate.collection), std::move(found[i].occurrences));
  }
  cache_.save(true);
  listing->sort();
  return listing;
}

// Open todos come from the summaries, so with a valid cache nothing is parsed;
// a file whose stamp is not in the cache is read and summarized first.
void IcalStore::fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) {
  std::vector<Reminder> out;
  std::vector<const Collection*> wanted;
  for (const Collection& collection : collections()) {
    if (!query.calendars || std::any_of(query.calendars->begin(), query.calendars->end(),
                                        [&](const Calendar& c) { return c.identifier == collection.name; }))
      wanted.push_back(&collection);
  }
  std::vector<std::vector<Item>> items = itemsOf(wanted);
  for (size_t i = 0; i < wanted.size(); ++i) {
    const Collection& collection = *wanted[i];
    const std::string directory = collectionPath(collection.name);
    for (const Item& item : items[i]) {
      const std::string relative = collection.name + "/" + item.name;
      const FileSummary* summary = cache_.find(relative, item.stamp);
      FileSummary fresh;
      if (!summary) {
        std::optional<std::string> bytes = readWholeFile(*config_.env, directory + "/" + item.name, ParseLimits{}.bytes);
        if (!bytes) continue;
        fresh = summarize(CalendarFile::parse(*bytes, *config_.zones));
        summary = &fresh;
      }
      for (const TodoItem& todo : summary->openTodos) {
        Reminder r;
        r.identifier = relative + "/" + std::to_string(todo.index);
        r.title = todo.title;
        r.notes = todo.notes;
        r.calendar = calendarOf(collection);
        r.dueDateComponents = todo.due;
        r.priority = todo.priority;
        snapshots_[r.identifier] = Snapshot{directory + "/" + item.name, item.stamp, todo.index, r};
        out.push_back(std::move(r));
      }
      if (summary == &fresh) cache_.record(relative, item.stamp, std::move(fresh));
    }
  }
  cache_.save(!query.calendars);
  completion(std::move(out));
}

Reminder IcalStore::newReminder() { return Reminder{}; }

// Writes at once whatever `commit` says: there is no batch to commit later.
void IcalStore::saveReminder(Reminder& reminder, bool) {
  if (reminder.identifier.empty()) saveNew(reminder);
  else saveCompletion(reminder);
}

namespace {


// Whether a todo as it reads from a file is what was meant to be written.
bool readsAs(const TodoItem& todo, const Reminder& meant) {
  auto fields = [](const std::optional<DateComponents>& d) {
    return d ? std::optional(std::array<int, 6>{d->year.value_or(-1), d->month.value_or(-1), d->day.value_or(-1),
                                                d->hour.value_or(-1), d->minute.value_or(-1), d->second.value_or(0)})
             : std::nullopt;
  };
  return todo.title.value_or("") == meant.title.value_or("") && todo.notes == meant.notes &&
         todo.priority == meant.priority && fields(todo.due) == fields(meant.dueDateComponents) &&
         (todo.due ? todo.due->timeZone : std::nullopt) == (meant.dueDateComponents ? meant.dueDateComponents->timeZone : std::nullopt);
}

// Whether `after` is `before` with the todo at `index` completed and every
// other todo as it was.
bool onlyCompleted(const std::vector<TodoItem>& before, const std::vector<TodoItem>& after, size_t index) {
  if (before.size() != after.size()) return false;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i != index) {
      if (!(after[i] == before[i])) return false;
      continue;
    }
    TodoItem expected = before[i];
    expected.isCompleted = true;
    if (!(after[i] == expected)) return false;
  }
  return true;
}

}  // namespace

void IcalStore::saveNew(Reminder& reminder) {
  if (!reminder.calendar) throw StoreError("Cannot save a reminder without a list");
  const std::string name = reminder.calendar->identifier;
  if (std::none_of(collections().begin(), collections().end(), [&](const Collection& c) { return c.name == name; }))
    throw StoreError("No reminder list " + collectionPath(name));
  checkStorable(reminder);
  Env& fs = *config_.env;
  WriteLock lock(fs, config_.lockFile);
  removeStaleTempFiles(fs, collectionPath(name));
  const std::string now = utcStamp(nowOf(fs));
  for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
    const std::string uid = config_.newUuid();
    const std::string item = uid + ".ics";
    const std::string path = collectionPath(name) + "/" + item;
    const std::string text = newTodoText(reminder, uid, now, *config_.zones);
    // The file must give back exactly what it was given, or it is not written.
    std::optional<CalendarFile> parsed = CalendarFile::parse(text, *config_.zones);
    std::vector<TodoItem> todos = parsed ? parsed->todos() : std::vector<TodoItem>{};
    if (todos.size() != 1 || !readsAs(todos[0], reminder))
      throw StoreError("Cannot save the reminder: it would not read back as it was given");
    if (createFileExclusively(fs, path, text)) {
      reminder.identifier = name + "/" + item + "/0";
      snapshots_[reminder.identifier] = Snapshot{path, stampOf(fs, path).value_or(FileStamp{}), 0, reminder};
      return;
    }
  }
  throw StoreError("Cannot create a new reminder in " + collectionPath(name) + ": every new file name was taken");
}

void IcalStore::saveCompletion(Reminder& reminder) {
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
      !matchesListed(todos[snapshot.index], before))
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
