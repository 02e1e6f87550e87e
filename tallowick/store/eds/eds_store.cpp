#include "tallowick/store/eds/eds_store.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "tallowick/store/eds/icalendar_bridge.h"
#include "tallowick/store/icalendar/event_listing.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace tallowick::eds {
namespace {

using std::chrono::days;
using std::chrono::seconds;

// EDS judges floating and all-day times in a zone of its own, not the
// run's; its window is wider by more than any offset, and the expansion
// keeps to the exact one.
constexpr days edsWindowMargin{2};
const Instant firstInstant{std::chrono::sys_days{std::chrono::year{1} / 1 / 1}};
const Instant lastInstant{std::chrono::sys_days{std::chrono::year{9999} / 12 / 31} + days{1} - seconds{1}};

template <typename T>
T take(EdsAnswer<T> answer) {
  if (!answer.ok()) throw StoreError(answer.error);
  return std::move(answer.value);
}

EdsSourceKind kindOf(EntityType type) {
  return type == EntityType::event ? EdsSourceKind::calendar : EdsSourceKind::taskList;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

EdsStore::EdsStore(std::unique_ptr<EdsService> service, CalendarStore& consent, EdsStoreConfig config)
    : service_(std::move(service)), consent_(consent), config_(std::move(config)) {}

void EdsStore::requestFullAccessToEvents(AccessCompletion completion) {
  consent_.requestFullAccessToEvents(std::move(completion));
}

void EdsStore::requestFullAccessToReminders(AccessCompletion completion) {
  consent_.requestFullAccessToReminders(std::move(completion));
}

void EdsStore::requestAccess(EntityType type, AccessCompletion completion) {
  consent_.requestAccess(type, std::move(completion));
}

const std::vector<Calendar>& EdsStore::lists(EntityType type) {
  auto found = lists_.find(type);
  if (found != lists_.end()) return found->second;
  std::vector<Calendar> out;
  for (EdsSource& source : take(service_->sources(kindOf(type))))
    out.push_back({std::move(source.uid), vantrel::text::repairUtf8(source.title)});
  std::sort(out.begin(), out.end(), [](const Calendar& a, const Calendar& b) {
    return std::tie(a.title, a.identifier) < std::tie(b.title, b.identifier);
  });
  return lists_[type] = std::move(out);
}

std::vector<Calendar> EdsStore::calendars(EntityType type) { return lists(type); }

std::optional<Calendar> EdsStore::defaultCalendarForNewReminders() {
  const std::vector<Calendar>& all = lists(EntityType::reminder);
  if (config_.defaultListTitle)
    for (const Calendar& list : all)
      if (vantrel::text::canonicallyEqual(list.title, *config_.defaultListTitle)) return list;
  const std::string uid = take(service_->defaultTaskList());
  for (const Calendar& list : all)
    if (list.identifier == uid) return list;
  return std::nullopt;
}

std::vector<std::vector<std::string>> EdsStore::zonesOf(const std::string& source, EdsSourceKind kind,
                                                        const std::vector<std::vector<const EdsComponent*>>& items) {
  std::vector<std::set<std::string>> tzids(items.size());
  std::set<std::string> all;
  for (size_t i = 0; i < items.size(); ++i)
    for (const EdsComponent* component : items[i])
      for (std::string& tzid : icalendar::foreignTzids(*config_.zones, component->text)) {
        all.insert(tzid);
        tzids[i].insert(std::move(tzid));
      }
  std::map<std::string, std::string> known;
  if (!all.empty()) {
    std::vector<std::string> asked(all.begin(), all.end());
    std::vector<std::string> texts = take(service_->timezones(source, kind, asked));
    for (size_t i = 0; i < asked.size() && i < texts.size(); ++i)
      if (!texts[i].empty()) known[asked[i]] = std::move(texts[i]);
  }
  std::vector<std::vector<std::string>> zones(items.size());
  for (size_t i = 0; i < items.size(); ++i)
    for (const std::string& tzid : tzids[i])
      if (auto zone = known.find(tzid); zone != known.end()) zones[i].push_back(zone->second);
  return zones;
}

std::vector<Event> EdsStore::events(const EventQuery& query) {
  std::unique_ptr<EventListing> listing = listEvents(query);
  std::vector<Event> out(listing->size());
  for (size_t i = 0; i < out.size(); ++i) listing->get(i, out[i]);
  return out;
}

std::unique_ptr<EventListing> EdsStore::listEvents(const EventQuery& query) {
  auto listing = std::make_unique<ical::CompactEventListing>();
  const std::vector<Calendar> calendars = lists(EntityType::event);
  std::vector<std::string> uids;
  for (const Calendar& calendar : calendars) uids.push_back(calendar.identifier);
  Instant start = std::max(query.start - edsWindowMargin, firstInstant);
  Instant end = std::min(query.end + edsWindowMargin, lastInstant);
  std::vector<std::vector<EdsComponent>> found =
      take(service_->eventComponents(uids, icalendar::utcStamp(start), icalendar::utcStamp(end)));

  for (size_t c = 0; c < calendars.size() && c < found.size(); ++c) {
    // One item is a UID's master and detached instances, read together as
    // a vdir file holds them; items in byte order of UID.
    std::vector<const EdsComponent*> components;
    for (const EdsComponent& component : found[c]) components.push_back(&component);
    std::stable_sort(components.begin(), components.end(),
                     [](const EdsComponent* a, const EdsComponent* b) { return a->uid < b->uid; });
    std::vector<std::vector<const EdsComponent*>> items;
    for (size_t i = 0; i < components.size(); ++i) {
      if (i == 0 || components[i]->uid != components[i - 1]->uid) items.emplace_back();
      items.back().push_back(components[i]);
    }
    std::vector<std::vector<std::string>> zones = zonesOf(calendars[c].identifier, EdsSourceKind::calendar, items);
    for (size_t i = 0; i < items.size(); ++i) {
      std::vector<const std::string*> texts;
      for (const EdsComponent* component : items[i]) texts.push_back(&component->text);
      listing->addFile(calendars[c], icalendar::occurrences(*config_.zones, zones[i], texts, query.start, query.end));
    }
  }
  listing->sort();
  return listing;
}

void EdsStore::fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) {
  std::vector<Calendar> wanted;
  for (const Calendar& list : lists(EntityType::reminder)) {
    if (!query.calendars || std::any_of(query.calendars->begin(), query.calendars->end(),
                                        [&](const Calendar& c) { return c.identifier == list.identifier; }))
      wanted.push_back(list);
  }
  std::vector<std::string> uids;
  for (const Calendar& list : wanted) uids.push_back(list.identifier);
  std::vector<std::vector<EdsComponent>> found = take(service_->openTasks(uids));

  std::vector<Reminder> out;
  for (size_t l = 0; l < wanted.size() && l < found.size(); ++l) {
    std::vector<const EdsComponent*> tasks;
    for (const EdsComponent& task : found[l]) tasks.push_back(&task);
    std::sort(tasks.begin(), tasks.end(), [](const EdsComponent* a, const EdsComponent* b) {
      return std::tie(a->uid, a->rid) < std::tie(b->uid, b->rid);
    });
    std::vector<std::vector<const EdsComponent*>> items;
    for (const EdsComponent* task : tasks) items.push_back({task});
    std::vector<std::vector<std::string>> zones = zonesOf(wanted[l].identifier, EdsSourceKind::taskList, items);
    for (size_t t = 0; t < tasks.size(); ++t) {
      std::optional<icalendar::Todo> todo = icalendar::readTodo(*config_.zones, zones[t], tasks[t]->text);
      // EDS's "not completed" lets cancelled tasks through, and its reading
      // of completed may differ from the vdir store's.
      if (!todo || todo->isCompleted || todo->isCancelled) continue;
      Reminder r;
      r.identifier = std::to_string(nextIdentifier_++);
      r.title = todo->title;
      r.notes = todo->notes;
      r.calendar = wanted[l];
      r.dueDateComponents = todo->due;
      r.priority = todo->priority;
      snapshots_[r.identifier] = Snapshot{wanted[l], tasks[t]->uid, tasks[t]->rid, tasks[t]->text, r};
      out.push_back(std::move(r));
    }
  }
  completion(std::move(out));
}

Reminder EdsStore::newReminder() { return Reminder{}; }

// Writes at once whatever `commit` says: there is no batch to commit later.
void EdsStore::saveReminder(Reminder& reminder, bool) {
  if (reminder.identifier.empty()) saveNew(reminder);
  else saveCompletion(reminder);
}

void EdsStore::refuseReadOnly(const Calendar& list) {
  // Some read-only sources accept a write and drop it, so their word is
  // asked first rather than trusting a write's success.
  if (take(service_->isReadOnly(list.identifier, EdsSourceKind::taskList)))
    throw StoreError("The reminder list " + quoted(list.title) + " is read-only; the reminder was not saved");
}

void EdsStore::saveNew(Reminder& reminder) {
  if (!reminder.calendar) throw StoreError("Cannot save a reminder without a list");
  const std::vector<Calendar>& all = lists(EntityType::reminder);
  auto list = std::find_if(all.begin(), all.end(),
                           [&](const Calendar& c) { return c.identifier == reminder.calendar->identifier; });
  if (list == all.end()) throw StoreError("No reminder list " + quoted(reminder.calendar->title));
  icalendar::checkStorable(reminder);
  refuseReadOnly(*list);
  // The UID the reminder's content names first: an open task of the same
  // content there is this very reminder, saved by a run that did not live to
  // say so. Then a fresh one.
  std::string uid;
  if (config_.uuidOf) {
    uid = config_.uuidOf(icalendar::contentName(reminder, list->identifier));
    std::string existing = take(service_->task(list->identifier, uid, ""));
    if (!existing.empty() && icalendar::holdsOpenReminder(*config_.zones, existing, reminder)) {
      reminder.identifier = std::to_string(nextIdentifier_++);
      snapshots_[reminder.identifier] = Snapshot{*list, uid, "", std::move(existing), reminder};
      return;
    }
    if (!existing.empty()) uid.clear();
  }
  if (uid.empty()) uid = config_.newUuid();
  take(service_->createTask(list->identifier, icalendar::newTaskText(*config_.zones, reminder, uid, config_.now())));
  std::string stored = take(service_->task(list->identifier, uid, ""));
  if (stored.empty())
    throw StoreError("evolution-data-server did not keep the new reminder in " + quoted(list->title) +
                     "; it was not saved");
  reminder.identifier = std::to_string(nextIdentifier_++);
  snapshots_[reminder.identifier] = Snapshot{*list, uid, "", std::move(stored), reminder};
}

void EdsStore::saveCompletion(Reminder& reminder) {
  auto it = snapshots_.find(reminder.identifier);
  if (it == snapshots_.end())
    throw StoreError("Cannot save reminder " + reminder.identifier + ": it was not read from this store");
  Snapshot& snapshot = it->second;
  const Reminder& before = snapshot.reminder;
  const std::string named = quoted(before.title.value_or("")) + " in " + quoted(snapshot.list.title);
  if (reminder.title != before.title || reminder.notes != before.notes || reminder.priority != before.priority ||
      !reminder.calendar || reminder.calendar->identifier != snapshot.list.identifier ||
      !icalendar::sameDue(reminder.dueDateComponents, before.dueDateComponents) ||
      (before.isCompleted && !reminder.isCompleted))
    throw StoreError("Cannot save the reminder " + named + ": only completing a reminder is supported");
  if (reminder.isCompleted == before.isCompleted) return;

  refuseReadOnly(snapshot.list);
  // EDS keeps whichever write comes last and compares nothing, so the task
  // is read again right before the write: a change another program made
  // since the listing is never overwritten by a stale copy.
  const std::string current = take(service_->task(snapshot.list.identifier, snapshot.uid, snapshot.rid));
  if (current != snapshot.text)
    throw StoreError("The reminder " + named + " changed since it was read; the reminder was not saved");
  std::optional<std::string> completed = icalendar::completedTaskText(*config_.zones, current, config_.now());
  if (!completed)
    throw StoreError("Cannot complete the reminder " + named +
                     " safely: it reads differently than expected; it was not saved");
  take(service_->modifyTask(snapshot.list.identifier, *completed));
  std::string stored = take(service_->task(snapshot.list.identifier, snapshot.uid, snapshot.rid));
  std::optional<icalendar::Todo> after = icalendar::readTodo(*config_.zones, {}, stored);
  if (!after || !after->isCompleted)
    throw StoreError("evolution-data-server did not keep the completion of the reminder " + named +
                     "; it was not saved");
  snapshot.text = std::move(stored);
  snapshot.reminder = reminder;
}

}  // namespace tallowick::eds
