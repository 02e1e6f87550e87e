#pragma once
// The platform of a run: the vdir store or the EDS store, chosen by the rule
// of store_choice.h when the run first needs the calendars themselves. Access
// is always the vdir platform's: the project's consent in its settings file,
// the same whichever store holds the calendars, so asking for access (and
// `request-access`) never loads EDS.

#include <functional>
#include <memory>
#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/eds/eds_service.h"
#include "tallowick/store/vdir/env.h"
#include "tallowick/zones/system_zones.h"

namespace tallowick::eds {

struct ChoiceConfig {
  ical::Env* env = &ical::defaultEnv();  // the settings, the vdir root and the clock
  const zones::ZoneSource* zones = &zones::systemZones();
  std::string settingsFile;
  std::string vdirRoot;              // the default root; see store_choice.h
  std::function<bool()> sessionBus;  // whether there is a session bus to try
  // A new, unconnected service; throws StoreError when it cannot be loaded.
  std::function<std::unique_ptr<EdsService>()> loadService;
  std::function<std::string()> newUuid;
  std::function<std::string(const std::string& name)> uuidOf;  // see VdirStoreConfig
};

class ChosenPlatform : public CalendarPlatform {
 public:
  ChosenPlatform(std::unique_ptr<CalendarPlatform> vdir, ChoiceConfig config)
      : vdir_(std::move(vdir)), config_(std::move(config)) {}
  int authorizationStatus(EntityType type) override { return vdir_->authorizationStatus(type); }
  // A store that chooses on its first use of the calendars. Throws nothing;
  // a choice that fails (a forced EDS that cannot be reached, an unknown
  // "backend") fails that first use with StoreError.
  std::unique_ptr<CalendarStore> openStore() override;
  bool isOperatingSystemAtLeast(int major, int minor, int patch) override {
    return vdir_->isOperatingSystemAtLeast(major, minor, patch);
  }
  const zones::ZoneSource& zoneSource() override { return *config_.zones; }
  // Which store a run would use and why, then that store's own facts (for
  // EDS: its calendars and task lists, or why it cannot be reached) and the
  // person's consent.
  StoreDiagnosis diagnose() override;

 private:
  std::unique_ptr<CalendarPlatform> vdir_;
  ChoiceConfig config_;
};

}  // namespace tallowick::eds
