#pragma once
// The calendar store: the user's calendars, events, reminder lists and
// reminders, and the permission to use them. The logic of tallowick reaches the
// store only through these two classes.
//
// Abstract so it can be faked in tests. The Linux implementations keep the
// calendars as iCalendar collections on disk (store/vdir_store/) or reach
// them in GNOME's evolution-data-server (store/eds/);
// makeDefaultCalendarPlatform() chooses between them.
//
// Results are plain values that the caller owns. Texts are valid UTF-8.
// Completion handlers may run on any thread, including the calling one, and a
// correct store calls each exactly once.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tallowick/zones/zone_source.h"

namespace tallowick {

// Microseconds reach hundreds of thousands of years either way, so any date a
// host may name (a window up to 9999-12-31, say) is an instant.
using Instant = std::chrono::sys_time<std::chrono::microseconds>;

inline Instant instantFromTimeT(std::time_t t) { return Instant(std::chrono::seconds(t)); }
inline std::time_t toTimeT(Instant instant) {
  return static_cast<std::time_t>(std::chrono::floor<std::chrono::seconds>(instant).time_since_epoch().count());
}
inline Instant currentInstant() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

enum class EntityType { event = 0, reminder = 1 };

// Authorization status values as the store reports them. The store may report
// any integer; values outside 0...4 are unknown states.
namespace auth_status {
inline constexpr int notDetermined = 0;
inline constexpr int restricted = 1;
inline constexpr int denied = 2;
inline constexpr int fullAccess = 3;
inline constexpr int writeOnly = 4;
}  // namespace auth_status

// A calendar (for events) or a reminder list (for reminders).
struct Calendar {
  std::string identifier;  // stable within one store; opaque to the logic
  std::string title;
};

struct Event {
  std::optional<std::string> title;
  std::optional<Instant> startDate;
  std::optional<Instant> endDate;
  bool isAllDay = false;
  std::optional<std::string> location;
  std::optional<std::string> notes;
  std::optional<Calendar> calendar;
};

// Calendar fields of a due date, as the store keeps them. A field may be
// missing; timeZone is an IANA zone name when the due date is tied to a zone,
// absent for a floating (local) one.
struct DateComponents {
  std::optional<int> year, month, day, hour, minute, second;
  std::optional<std::string> timeZone;
};

struct Reminder {
  std::string identifier;  // empty for a reminder that has never been saved
  std::optional<std::string> title;
  std::optional<std::string> notes;
  std::optional<Calendar> calendar;
  std::optional<DateComponents> dueDateComponents;
  bool isCompleted = false;
  int64_t priority = 0;
};

// Events whose occurrences overlap [start, end], over all event calendars.
struct EventQuery {
  Instant start;
  Instant end;
};

// Incomplete reminders, without due-date bounds: of the given lists, or of all
// lists when `calendars` is absent.
struct IncompleteReminderQuery {
  std::optional<std::vector<Calendar>> calendars;
};

// An error of the store itself (a refused save, an unreadable settings file).
// what() is one human-readable line.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The answer to an access request: whether access was granted, and an error
// the store may deliver alongside it.
using AccessCompletion = std::function<void(bool granted, std::optional<std::string> error)>;

// Receives the fetched reminders, or nothing.
using RemindersCompletion = std::function<void(std::optional<std::vector<Reminder>>)>;

// One open connection to the store. Not thread-safe: use from one thread.
class EventListing;

class CalendarStore {
 public:
  virtual ~CalendarStore() = default;

  // Asks the person for full access to events / reminders (systems 14.0.0 and
  // later). Answers at once, without asking, when they have already decided.
  // Calls `completion` exactly once; an error delivered with the answer means
  // the request failed. A store that cannot keep the person's answer throws
  // StoreError instead, without calling `completion`.
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;
  virtual void requestFullAccessToReminders(AccessCompletion completion) = 0;

  // The general request of older systems, for one entity type. Calls
  // `completion` exactly once.
  virtual void requestAccess(EntityType type, AccessCompletion completion) = 0;

  // The calendars of an entity type, in the store's order. Never fails: a
  // store it cannot read has no calendars.
  virtual std::vector<Calendar> calendars(EntityType type) = 0;

  // The list that new reminders go to by default, if the store has one.
  virtual std::optional<Calendar> defaultCalendarForNewReminders() = 0;

  // Every occurrence of every event that overlaps the query's window, recurring
  // events expanded, in the store's order. Returns at once; never fails.
  virtual std::vector<Event> events(const EventQuery& query) = 0;

  // The same events in the same order, held in whatever form suits the
  // store: a listing of millions of occurrences need not be millions of
  // Events at once. By default, the vector events() returns.
  virtual std::unique_ptr<EventListing> listEvents(const EventQuery& query);

  // Fetches the incomplete reminders that the query selects and calls
  // `completion` exactly once, on any thread, with them (or with nothing).
  virtual void fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) = 0;

  // A new, unsaved reminder of this store: no title, list, notes or due date,
  // priority 0, not completed.
  virtual Reminder newReminder() = 0;

  // Saves a new reminder or the changes to a fetched one, committing at once
  // when `commit` is set. On success a new reminder's identifier is filled in.
  // Throws StoreError when the store refuses; nothing is then written.
  virtual void saveReminder(Reminder& reminder, bool commit) = 0;
};

// Events read one at a time, by index.
class EventListing {
 public:
  virtual ~EventListing() = default;
  virtual size_t size() const = 0;
  // Event i, written over `into`, whose texts keep their buffers.
  virtual void get(size_t i, Event& into) const = 0;
};

class EventVectorListing : public EventListing {
 public:
  explicit EventVectorListing(std::vector<Event> events) : events_(std::move(events)) {}
  size_t size() const override { return events_.size(); }
  void get(size_t i, Event& into) const override { into = events_[i]; }

 private:
  std::vector<Event> events_;
};

inline std::unique_ptr<EventListing> CalendarStore::listEvents(const EventQuery& query) {
  return std::make_unique<EventVectorListing>(events(query));
}

// What a person needs to know about the store a run would use, for
// `tallowick doctor`: the facts looked at, in order, and what stands in the
// way, if anything. Gathering it asks the person nothing and writes nothing.
struct StoreDiagnosis {
  struct Fact {
    std::string name;   // what was looked at, such as "settings" or "list"
    std::string value;  // what was found
  };
  std::vector<Fact> facts;
  std::vector<std::string> problems;  // one line each; none when the store is usable
};

// The store's class-level side: what can be asked without a connection.
class CalendarPlatform {
 public:
  virtual ~CalendarPlatform() = default;

  // The current authorization status for an entity type, never prompting.
  virtual int authorizationStatus(EntityType type) = 0;

  // Opens a new connection. Never fails; problems surface as empty results or
  // errors of later calls.
  virtual std::unique_ptr<CalendarStore> openStore() = 0;

  // Whether the operating system is at least the given version.
  virtual bool isOperatingSystemAtLeast(int major, int minor, int patch) = 0;

  // The time zones every date of a run is read and written in: the local
  // zone, and the zones that due dates name. Lives as long as the platform.
  virtual const zones::ZoneSource& zoneSource() = 0;

  // For a person, not for the host: see StoreDiagnosis. By default, nothing
  // is known.
  virtual StoreDiagnosis diagnose() { return {}; }
};

// The platform of this build's back end.
std::unique_ptr<CalendarPlatform> makeDefaultCalendarPlatform();

}  // namespace tallowick
