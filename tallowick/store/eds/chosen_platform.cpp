#include "tallowick/store/eds/chosen_platform.h"

#include <sys/stat.h>

#include "tallowick/store/eds/eds_store.h"
#include "tallowick/store/eds/store_choice.h"
#include "tallowick/store/vdir_store/vdir_store.h"

namespace tallowick::eds {
namespace {

bool isDirectory(ical::Env& env, const std::string& path) {
  struct stat info {};
  return env.stat(path, info) == 0 && S_ISDIR(info.st_mode);
}

class ChosenStore : public CalendarStore {
 public:
  ChosenStore(std::unique_ptr<CalendarStore> vdir, ChoiceConfig config)
      : vdir_(std::move(vdir)), config_(std::move(config)) {}

  void requestFullAccessToEvents(AccessCompletion completion) override {
    vdir_->requestFullAccessToEvents(std::move(completion));
  }
  void requestFullAccessToReminders(AccessCompletion completion) override {
    vdir_->requestFullAccessToReminders(std::move(completion));
  }
  void requestAccess(EntityType type, AccessCompletion completion) override {
    vdir_->requestAccess(type, std::move(completion));
  }
  std::vector<Calendar> calendars(EntityType type) override { return chosen().calendars(type); }
  std::optional<Calendar> defaultCalendarForNewReminders() override {
    return chosen().defaultCalendarForNewReminders();
  }
  std::vector<Event> events(const EventQuery& query) override { return chosen().events(query); }
  std::unique_ptr<EventListing> listEvents(const EventQuery& query) override { return chosen().listEvents(query); }
  void fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) override {
    chosen().fetchReminders(query, std::move(completion));
  }
  Reminder newReminder() override { return chosen().newReminder(); }
  void saveReminder(Reminder& reminder, bool commit) override { chosen().saveReminder(reminder, commit); }

 private:
  CalendarStore& chosen() {
    if (!chosen_) chosen_ = choose();
    return *chosen_;
  }

  CalendarStore* choose() {
    ical::Settings settings = ical::readSettings(*config_.env, config_.settingsFile);
    bool bus = config_.sessionBus();
    StoreChoice choice = chooseStore(settings, config_.settingsFile, isDirectory(*config_.env, config_.vdirRoot), bus);
    if (choice == StoreChoice::vdir) return vdir_.get();
    try {
      if (!bus)
        throw StoreError(
            "Cannot reach evolution-data-server: there is no session bus (DBUS_SESSION_BUS_ADDRESS "
            "is not set and $XDG_RUNTIME_DIR/bus does not exist)");
      std::unique_ptr<EdsService> service = config_.loadService();
      EdsAnswer<EdsDone> connected = service->connect();
      if (!connected.ok()) throw StoreError(connected.error);
      ical::Env& env = *config_.env;
      EdsStoreConfig store{settings.defaultReminderList, config_.newUuid, config_.uuidOf,
                           [&env] { return Instant(std::chrono::microseconds(env.nowMicros())); }, config_.zones};
      eds_ = std::make_unique<EdsStore>(std::move(service), *vdir_, std::move(store));
      return eds_.get();
    } catch (const StoreError&) {
      // Not asked for by name: a bus without a working EDS is a desktop
      // without calendars there, as a missing vdir root is.
      if (choice == StoreChoice::edsIfItAnswers) return vdir_.get();
      throw;
    }
  }

  std::unique_ptr<CalendarStore> vdir_;
  ChoiceConfig config_;
  std::unique_ptr<CalendarStore> eds_;
  CalendarStore* chosen_ = nullptr;
};

}  // namespace

StoreDiagnosis ChosenPlatform::diagnose() {
  StoreDiagnosis d;
  auto fact = [&](std::string name, std::string value) { d.facts.push_back({std::move(name), std::move(value)}); };
  // The vdir platform keeps the settings and the consent, whichever store
  // holds the calendars.
  auto* vdir = dynamic_cast<ical::VdirPlatform*>(vdir_.get());
  if (vdir) vdir->diagnoseSettings(d);
  ical::Settings settings = ical::readSettings(*config_.env, config_.settingsFile);
  const bool bus = config_.sessionBus();
  const bool root = isDirectory(*config_.env, config_.vdirRoot);
  std::string why;
  if (settings.backend) why = "the settings say \"backend\": " + *settings.backend;
  else if (settings.store && !settings.store->empty()) why = "the settings name a folder (\"store\")";
  else if (root) why = config_.vdirRoot + " exists";
  else if (bus) why = "no folder at " + config_.vdirRoot + ", and a session bus is there";
  else why = "no folder at " + config_.vdirRoot + " and no session bus";
  auto vdirFolders = [&](const std::string& reason) {
    fact("store chosen", "vdir folders (" + reason + ")");
    if (vdir) vdir->diagnoseFolders(d);
  };
  try {
    StoreChoice choice = chooseStore(settings, config_.settingsFile, root, bus);
    if (choice == StoreChoice::vdir) {
      vdirFolders(why);
    } else {
      std::string failure;
      std::unique_ptr<EdsService> service;
      if (!bus) failure = "there is no session bus";
      else {
        try {
          service = config_.loadService();
          if (EdsAnswer<EdsDone> connected = service->connect(); !connected.ok()) failure = connected.error;
        } catch (const StoreError& e) {
          failure = e.what();
        }
      }
      if (!failure.empty() && choice == StoreChoice::edsIfItAnswers) {
        fact("evolution-data-server", "does not answer: " + failure);
        vdirFolders(why + ", but evolution-data-server does not answer");
      } else if (!failure.empty()) {
        fact("store chosen", "evolution-data-server (" + why + ")");
        d.problems.push_back("evolution-data-server cannot be reached: " + failure);
      } else {
        fact("store chosen", "evolution-data-server (" + why + ")");
        for (EdsSourceKind kind : {EdsSourceKind::calendar, EdsSourceKind::taskList}) {
          EdsAnswer<std::vector<EdsSource>> sources = service->sources(kind);
          const char* name = kind == EdsSourceKind::calendar ? "calendar" : "list";
          if (!sources.ok()) d.problems.push_back("evolution-data-server cannot list its sources: " + sources.error);
          for (const EdsSource& s : sources.value) fact(name, s.title + " (" + s.uid + ")");
          if (kind == EdsSourceKind::taskList && sources.ok() && sources.value.empty())
            d.problems.push_back("evolution-data-server has no task list, so add-reminder fails");
        }
        if (EdsAnswer<std::string> list = service->defaultTaskList(); list.ok())
          fact("default list", list.value.empty() ? "none" : list.value);
      }
    }
  } catch (const StoreError& e) {
    d.problems.push_back(e.what());
  }
  if (vdir) vdir->diagnoseAccess(d);
  return d;
}

std::unique_ptr<CalendarStore> ChosenPlatform::openStore() {
  return std::make_unique<ChosenStore>(vdir_->openStore(), config_);
}

}  // namespace tallowick::eds
