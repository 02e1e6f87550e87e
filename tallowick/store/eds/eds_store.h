#pragma once
// The calendar store on evolution-data-server (EDS), where GNOME keeps the
// person's calendars and task lists (those of Online Accounts included).
//
// Calendars are EDS's enabled calendar sources, reminder lists its enabled
// task lists, each in byte order of title, then of UID. EDS hands over
// component texts; everything else is the iCalendar layer's
// (icalendar_bridge.h), as for a vdir file: exact texts, the project's own
// expansion and zone data, the checks on new reminders, the text edit that
// completes one. Open reminders of a list come in byte order of UID.
//
// Unlike the vdir store, this one fails (StoreError, one line naming what was
// being done and carrying EDS's message) when EDS does: a listing that
// silently lacks a calendar would be a wrong answer.
//
// One thread; the service belongs to it (eds_service.h).

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/eds/eds_service.h"

namespace tallowick::eds {

struct EdsStoreConfig {
  // The list the settings name for new reminders; EDS's default task list
  // when it names none of them.
  std::optional<std::string> defaultListTitle;
  std::function<std::string()> newUuid;
  // The same UUID for the same name; empty: new reminders get fresh ones only.
  std::function<std::string(const std::string& name)> uuidOf;
  std::function<Instant()> now;
  const zones::ZoneSource* zones = nullptr;  // every time of a component; must outlive the store
};

class EdsStore : public CalendarStore {
 public:
  // `service` is connected. `consent` answers the access requests and must
  // outlive this store: EDS asks the person nothing, so the project's own
  // consent, recorded in its settings, stays the one that counts.
  EdsStore(std::unique_ptr<EdsService> service, CalendarStore& consent, EdsStoreConfig config);

  void requestFullAccessToEvents(AccessCompletion completion) override;
  void requestFullAccessToReminders(AccessCompletion completion) override;
  void requestAccess(EntityType type, AccessCompletion completion) override;
  std::vector<Calendar> calendars(EntityType type) override;
  std::optional<Calendar> defaultCalendarForNewReminders() override;
  std::vector<Event> events(const EventQuery& query) override;
  std::unique_ptr<EventListing> listEvents(const EventQuery& query) override;
  void fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) override;
  Reminder newReminder() override;
  // Adds new reminders and completes fetched ones; nothing else.
  void saveReminder(Reminder& reminder, bool commit) override;

 private:
  // A fetched task as it was listed.
  struct Snapshot {
    Calendar list;
    std::string uid;
    std::string rid;
    std::string text;
    Reminder reminder;
  };

  const std::vector<Calendar>& lists(EntityType type);
  // For each item (components read together), the VTIMEZONE texts of the
  // TZIDs it names that the system's zone data lacks: asked of the source
  // once for all items.
  std::vector<std::vector<std::string>> zonesOf(const std::string& source, EdsSourceKind kind,
                                                const std::vector<std::vector<const EdsComponent*>>& items);
  void refuseReadOnly(const Calendar& list);
  void saveNew(Reminder& reminder);
  void saveCompletion(Reminder& reminder);

  std::unique_ptr<EdsService> service_;
  CalendarStore& consent_;
  EdsStoreConfig config_;
  std::map<EntityType, std::vector<Calendar>> lists_;
  std::map<std::string, Snapshot> snapshots_;
  int nextIdentifier_ = 1;
};

}  // namespace tallowick::eds
