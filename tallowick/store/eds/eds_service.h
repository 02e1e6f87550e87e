#pragma once
// What the EDS store asks of evolution-data-server (EDS), the calendar service
// of GNOME desktops: its sources, the component texts of a window, the open
// tasks, and writing one task.
//
// The implementation (module/libecal_service.cpp) is a module loaded at run
// time, tallowick-eds.so, so that runs of the vdir store never load libecal
// and GLib. This header is all the two share: standard types only, and
// nothing crosses it but values. No exception leaves the module and no object
// of GLib or libical enters the program, so the program's own libical (linked
// in statically, or the same shared one) never meets EDS's.
//
// Abstract so it can be faked in tests (fake_eds_service.h).
//
// Results: every call returns its value, or a one-line error: what was being
// done, then EDS's own message (which may be translated). A call that runs out
// of its time bound fails too, and leaves the service broken: every later call
// fails at once with the same error, so one run waits out at most one bound.
//
// Threading: a service belongs to the thread that made it. Each call runs
// EDS's replies on a main context of the service's own, on that thread; none
// is left running in between.

#include <string>
#include <vector>

namespace tallowick::eds {

template <typename T>
struct EdsAnswer {
  T value{};
  std::string error;  // empty on success
  bool ok() const { return error.empty(); }
};

struct EdsDone {};

enum class EdsSourceKind { calendar, taskList };

struct EdsSource {
  std::string uid;
  std::string title;  // the display name, as EDS has it
};

// One component as EDS keeps it: UID, RECURRENCE-ID (EDS's text of it; empty
// for a master or a single item) and the component's iCalendar text.
struct EdsComponent {
  std::string uid;
  std::string rid;
  std::string text;
};

class EdsService {
 public:
  virtual ~EdsService() = default;

  // Reaches EDS's source registry on the session bus. Fails when there is no
  // bus, when EDS neither runs on it nor can be started by it (not
  // installed), or when it does not answer in time. Every other call needs a
  // connected service.
  virtual EdsAnswer<EdsDone> connect() = 0;

  // The enabled sources of a kind (enabled, in an enabled account), in no
  // particular order.
  virtual EdsAnswer<std::vector<EdsSource>> sources(EdsSourceKind kind) = 0;

  // The UID of EDS's default task list; empty when it has none.
  virtual EdsAnswer<std::string> defaultTaskList() = 0;

  // For each calendar of `sources`, in that order: its VEVENTs that occur in
  // [startUtc, endUtc] ("YYYYMMDDTHHMMSSZ") as EDS judges it, and every
  // recurring one with its detached instances, whatever its dates. All
  // calendars are asked at once.
  virtual EdsAnswer<std::vector<std::vector<EdsComponent>>> eventComponents(const std::vector<std::string>& sources,
                                                                            const std::string& startUtc,
                                                                            const std::string& endUtc) = 0;

  // For each task list of `sources`, in that order: its VTODOs that EDS
  // does not count as completed.
  virtual EdsAnswer<std::vector<std::vector<EdsComponent>>> openTasks(const std::vector<std::string>& sources) = 0;

  // The VTIMEZONE text of each of `tzids` as the source has it, in that
  // order; an empty text for a zone it does not know.
  virtual EdsAnswer<std::vector<std::string>> timezones(const std::string& source, EdsSourceKind kind,
                                                        const std::vector<std::string>& tzids) = 0;

  // Whether EDS says the source cannot be written. Its word is needed before
  // any write: some read-only sources accept a write and silently drop it.
  virtual EdsAnswer<bool> isReadOnly(const std::string& source, EdsSourceKind kind) = 0;

  // The task's current text, or an empty text when the list has no such task.
  virtual EdsAnswer<std::string> task(const std::string& source, const std::string& uid, const std::string& rid) = 0;

  // Adds the VTODO of `text` (a VTODO, or a VCALENDAR holding one) to the
  // task list.
  virtual EdsAnswer<EdsDone> createTask(const std::string& source, const std::string& text) = 0;

  // Replaces that one task (of the same UID and RECURRENCE-ID) with the VTODO
  // of `text`. EDS keeps whatever was written last: nothing compares.
  virtual EdsAnswer<EdsDone> modifyTask(const std::string& source, const std::string& text) = 0;
};

// The module exports one function of this type under edsServiceFactoryName:
// a new, unconnected service that the caller owns, or null when the caller
// was built against another version of this header.
using EdsServiceFactory = EdsService* (*)(int interfaceVersion);
inline constexpr const char* edsServiceFactoryName = "tallowick_eds_service_new";
// Changed with every change of this header.
inline constexpr int edsServiceInterfaceVersion = 1;

}  // namespace tallowick::eds
