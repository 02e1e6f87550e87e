#pragma once
// The Linux calendar store: vdir collections of .ics files (see vdir.h), the
// settings file (settings.h) for the store path, default list and access.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/access_prompt.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/zones/system_zones.h"
#include "tallowick/store/vdir/env.h"
#include "tallowick/store/vdir/summary_cache.h"
#include "tallowick/store/vdir/vdir.h"

namespace tallowick::ical {

// Everything the store takes from its surroundings, so tests can point it at
// temporary directories and answer prompts themselves.
struct VdirStoreConfig {
  std::string settingsFile;
  std::string defaultRoot;  // used when the settings name no store
  std::string home;         // expands a leading "~/" of the settings' store
  std::string cacheFile;    // per-file summaries between runs; empty: none
  std::string lockFile;     // serialises the writes of our runs; empty: none
  Env* env = &defaultEnv();  // every file, the clock and the listing's threads
  AccessPrompter prompt;
  std::function<std::string()> newUuid;
  // The same UUID for the same name, always (a name-based UUID); empty: new
  // reminders get fresh ones only.
  std::function<std::string(const std::string& name)> uuidOf;
  const zones::ZoneSource* zones = &zones::systemZones();  // every conversion of a time
};

// The store root: the settings' `store` ("~/" expanded; a relative path taken
// from the settings file's directory), else the default root.
std::string storeRoot(const VdirStoreConfig& config, const std::optional<std::string>& configured);

class VdirPlatform : public CalendarPlatform {
 public:
  explicit VdirPlatform(VdirStoreConfig config) : config_(std::move(config)) {}
  int authorizationStatus(EntityType type) override;
  std::unique_ptr<CalendarStore> openStore() override;
  // The full-access requests are what this store offers.
  bool isOperatingSystemAtLeast(int, int, int) override { return true; }
  const zones::ZoneSource& zoneSource() override { return *config_.zones; }
  // The settings, the store's folders and lists, every file skipped and why,
  // the access states and how the person would be asked (vdir_diagnosis.cpp).
  StoreDiagnosis diagnose() override;
  // Its parts, for a store that keeps its consent in the same settings.
  void diagnoseSettings(StoreDiagnosis& diagnosis);
  void diagnoseFolders(StoreDiagnosis& diagnosis);
  void diagnoseAccess(StoreDiagnosis& diagnosis);

 private:
  VdirStoreConfig config_;
};

class VdirStore : public CalendarStore {
 public:
  VdirStore(VdirStoreConfig config, std::string root, std::optional<std::string> defaultListTitle);

  void requestFullAccessToEvents(AccessCompletion completion) override;
  void requestFullAccessToReminders(AccessCompletion completion) override;
  void requestAccess(EntityType type, AccessCompletion completion) override;
  std::vector<Calendar> calendars(EntityType type) override;
  std::optional<Calendar> defaultCalendarForNewReminders() override;
  std::vector<Event> events(const EventQuery& query) override;
  std::unique_ptr<EventListing> listEvents(const EventQuery& query) override;
  void fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) override;
  Reminder newReminder() override;
  // Writes only new reminders and completions; changing anything else of a
  // fetched reminder is refused.
  void saveReminder(Reminder& reminder, bool commit) override;

 private:
  // What a fetched reminder looked like, and the stamp of its file then.
  struct Snapshot {
    std::string path;
    FileStamp stamp;
    int index = 0;
    Reminder reminder;
  };

  const std::vector<Collection>& collections();
  // The items of each of `wanted`, listed while the cache loads, on two
  // threads: stat'ing every file is much of a listing's time.
  std::vector<std::vector<Item>> itemsOf(const std::vector<const Collection*>& wanted);
  std::string collectionPath(const std::string& name) const { return root_ + "/" + name; }

  // What reading one file gave: its summary, made unless `known`, with
  // whether it may be kept (only verdicts on the file itself may: not a read
  // that failed for the moment, a machine out of memory or the last-resort
  // guard), and its occurrences in `window`, when one is given.
  struct FileReading {
    std::optional<FileSummary> summary;
    bool keep = false;
    OccurrenceList occurrences;
  };
  // Thread-safe; one file never fails a listing.
  FileReading read(const std::string& path, const FileSummary* known, const EventQuery* window) const;

  void saveNew(Reminder& reminder);
  void saveCompletion(Reminder& reminder);

  VdirStoreConfig config_;
  std::string root_;
  std::optional<std::string> defaultListTitle_;
  std::optional<std::vector<Collection>> collections_;
  std::map<std::string, Snapshot> snapshots_;
  SummaryCache cache_;
};

}  // namespace tallowick::ical
