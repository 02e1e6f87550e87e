#include "tallowick/access.h"

#include <utility>

#include "common/one_shot.h"
#include "tallowick/helper_error.h"
#include "tallowick/wire.h"

namespace tallowick {
namespace {

using Answer = std::pair<bool, std::optional<std::string>>;

// Starts a request through `ask` and waits for its one answer.
template <typename Ask>
Answer await(const char* label, Ask ask) {
  vantrel::OneShot<Answer> bridge(label);
  // The handler moves into the completion: no copy may stay here, or a store
  // that drops the completion would leave wait() blocked instead of reporting.
  ask([resume = bridge.handler()](bool granted, std::optional<std::string> error) {
    resume({granted, std::move(error)});
  });
  return bridge.wait();
}

bool requestAccess(CalendarPlatform& platform, CalendarStore& store, EntityType type) {
  bool fullAccessRequests = platform.isOperatingSystemAtLeast(14, 0, 0);
  const char* label = type == EntityType::event ? "requestEventsAccess(store)" : "requestRemindersAccess(store)";
  auto [granted, error] = await(label, [&](AccessCompletion done) {
    if (!fullAccessRequests)
      store.requestAccess(type, std::move(done));
    else if (type == EntityType::event)
      store.requestFullAccessToEvents(std::move(done));
    else
      store.requestFullAccessToReminders(std::move(done));
  });
  // Older systems deliver errors that do not mean a refusal; they are ignored.
  return fullAccessRequests ? granted && !error : granted;
}

struct GuardMessages {
  const char* notGranted;
  const char* denied;
  const char* writeOnly;
  const char* unknown;
};

constexpr GuardMessages kEvents{
    "Calendar access was not granted",
    "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.",
    "Calendar access is write-only. Grant full access in System Settings > Privacy & Security > Calendars.",
    "Unknown calendar authorization state",
};

constexpr GuardMessages kReminders{
    "Reminders access was not granted",
    "Reminders access denied. Grant access in System Settings > Privacy & Security > Reminders.",
    "Reminders access is write-only. Grant full access in System Settings > Privacy & Security > Reminders.",
    "Unknown reminders authorization state",
};

void ensureAccess(CalendarPlatform& platform, CalendarStore& store, EntityType type, const GuardMessages& text) {
  switch (authStatus(platform, type)) {
    case auth_status::notDetermined:
      if (requestAccess(platform, store, type)) return;
      throw HelperError::accessDenied(text.notGranted);
    case auth_status::restricted:
    case auth_status::denied:
      throw HelperError::accessDenied(text.denied);
    case auth_status::fullAccess:
      return;
    case auth_status::writeOnly:
      throw HelperError::accessDenied(text.writeOnly);
    default:
      throw HelperError::accessDenied(text.unknown);
  }
}

}  // namespace

int authStatus(CalendarPlatform& platform, EntityType type) { return platform.authorizationStatus(type); }

bool requestEventsAccess(CalendarPlatform& platform, CalendarStore& store) {
  return requestAccess(platform, store, EntityType::event);
}

bool requestRemindersAccess(CalendarPlatform& platform, CalendarStore& store) {
  return requestAccess(platform, store, EntityType::reminder);
}

void ensureEventsAccess(CalendarPlatform& platform, CalendarStore& store) {
  ensureAccess(platform, store, EntityType::event, kEvents);
}

void ensureRemindersAccess(CalendarPlatform& platform, CalendarStore& store) {
  ensureAccess(platform, store, EntityType::reminder, kReminders);
}

void runRequestAccess(CalendarPlatform& platform, std::ostream& out, const std::string& kind) {
  auto store = platform.openStore();
  bool granted;
  if (kind == "events")
    granted = requestEventsAccess(platform, *store);
  else if (kind == "reminders")
    granted = requestRemindersAccess(platform, *store);
  else
    throw HelperError::usage("request-access kind must be 'events' or 'reminders'");
  encode(out, AccessResponseDTO{granted});
}

}  // namespace tallowick
