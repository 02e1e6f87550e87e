#include "tallowick/dispatch.h"

#include "tallowick/access.h"
#include "tallowick/add_reminder.h"
#include "tallowick/complete_reminder.h"
#include "tallowick/doctor.h"
#include "tallowick/events.h"
#include "tallowick/helper_error.h"
#include "tallowick/reminders.h"

namespace tallowick {

void dispatch(const std::vector<std::string>& args, CalendarPlatform& platform, std::ostream& out) {
  if (args.size() < 2)
    throw HelperError::usage(
        "Usage: tallowick <events|reminders|reminder-lists|add-reminder|complete-reminder|request-access> [...]");
  const std::string& command = args[1];
  if (command == "events") {
    if (args.size() < 4) throw HelperError::usage("events requires <startISO> <endISO>");
    runEvents(platform, out, args[2], args[3]);
  } else if (command == "reminders") {
    runReminders(platform, out);
  } else if (command == "reminder-lists") {
    runReminderLists(platform, out);
  } else if (command == "add-reminder") {
    if (args.size() < 3) throw HelperError::usage("add-reminder requires <request.json>");
    runAddReminder(platform, out, args[2]);
  } else if (command == "complete-reminder") {
    if (args.size() < 3) throw HelperError::usage("complete-reminder requires <request.json>");
    runCompleteReminder(platform, out, args[2]);
  } else if (command == "request-access") {
    if (args.size() < 3) throw HelperError::usage("request-access requires <events|reminders>");
    runRequestAccess(platform, out, args[2]);
  } else if (command == "doctor") {
    // For a person, not for the host: the usage line, which the host shows,
    // does not name it.
    runDoctor(platform, out);
  } else {
    throw HelperError::usage("Unknown subcommand: " + command);
  }
}

}  // namespace tallowick
