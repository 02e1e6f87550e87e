// What `tallowick doctor` tells a person about the vdir store: it reads what a
// run would read and writes nothing, the summary cache included.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/vdir/access_prompt.h"
#include "tallowick/store/vdir/settings.h"
#include "tallowick/store/vdir/summary_cache.h"
#include "tallowick/store/vdir/vdir.h"
#include "tallowick/store/vdir_store/vdir_store.h"
#include "text/unicode.h"

namespace tallowick::ical {
namespace {

const char* accessWord(int state) {
  switch (state) {
    case auth_status::notDetermined: return "not-determined";
    case auth_status::restricted: return "restricted";
    case auth_status::denied: return "denied";
    case auth_status::fullAccess: return "full-access";
    case auth_status::writeOnly: return "write-only";
    default: return "unknown";
  }
}

// Why a file of the store is left out of every listing; nothing when it is
// read. A summary in the cache that says it parses answers without a read.
std::optional<std::string> whySkipped(Env& env, const zones::ZoneSource& zones, SummaryCache& cache,
                                      const std::string& relative, const std::string& path, const FileStamp& stamp) {
  if (const FileSummary* known = cache.find(relative, stamp); known && known->parses && !known->overBudget)
    return std::nullopt;
  const ParseLimits limits;
  std::string bytes;
  struct stat info {};
  if (int error = env.readFile(path, bytes, info, limits.bytes)) {
    if (error == EFBIG) return "is larger than " + std::to_string(limits.bytes >> 20) + " MiB";
    return std::string("cannot be read: ") + std::strerror(error);
  }
  return CalendarFile::refusal(bytes, zones, limits);
}

}  // namespace

StoreDiagnosis VdirPlatform::diagnose() {
  StoreDiagnosis d;
  diagnoseSettings(d);
  diagnoseFolders(d);
  diagnoseAccess(d);
  return d;
}

void VdirPlatform::diagnoseSettings(StoreDiagnosis& d) {
  Env& env = *config_.env;
  auto fact = [&](std::string name, std::string value) { d.facts.push_back({std::move(name), std::move(value)}); };
  struct stat info {};

  const std::string& file = config_.settingsFile;
  std::optional<std::string> settingsError = settingsProblem(env, file);
  bool settingsThere = env.stat(file, info) == 0;
  fact("settings", file + (!settingsThere ? " (not there: the defaults apply)"
                           : settingsError ? " (cannot be used)"
                                           : " (read)"));
  if (settingsError) {
    fact("settings error", *settingsError);
    d.problems.push_back("the settings file " + file + " cannot be used: " + *settingsError);
  }
  const char* tz = std::getenv("TZ");
  fact("time zone", tz ? std::string("TZ=") + tz : "/etc/localtime (TZ is not set)");
}

void VdirPlatform::diagnoseFolders(StoreDiagnosis& d) {
  Env& env = *config_.env;
  auto fact = [&](std::string name, std::string value) { d.facts.push_back({std::move(name), std::move(value)}); };
  struct stat info {};
  Settings settings = readSettings(env, config_.settingsFile);

  const std::string root = storeRoot(config_, settings.store);
  const bool rootThere = env.stat(root, info) == 0 && S_ISDIR(info.st_mode);
  fact("store", "vdir folders in " + root + (settings.store ? " (the settings' \"store\")" : " (the default)") +
                    (rootThere ? "" : " (not there: an empty store)"));

  SummaryCache cache(env, config_.cacheFile, root);
  std::vector<Collection> collections = listCollections(env, root);
  size_t skipped = 0;
  for (const Collection& c : collections) {
    const std::string directory = root + "/" + c.name;
    ItemScan scan(env, directory);
    scan.stat(0, scan.size());
    std::vector<Item> items = scan.take();
    fact("list", c.title + " (" + directory + ", " + std::to_string(items.size()) + " files)");
    for (const Item& item : items) {
      const std::string path = directory + "/" + item.name;
      if (std::optional<std::string> why =
              whySkipped(env, *config_.zones, cache, c.name + "/" + item.name, path, item.stamp)) {
        fact("skipped file", path + " " + *why);
        ++skipped;
      }
    }
  }
  if (skipped > 0) fact("files skipped", std::to_string(skipped) + ": nothing in them is listed");
  if (collections.empty()) {
    d.problems.push_back("there is no reminder list, so add-reminder fails with \"No reminder lists found\"; make one: "
                         "mkdir -p " + root + "/personal && echo Personal > " + root + "/personal/displayname");
  } else if (settings.defaultReminderList) {
    bool found = false;
    for (const Collection& c : collections)
      found = found || vantrel::text::canonicallyEqual(c.title, *settings.defaultReminderList);
    fact("default list", *settings.defaultReminderList +
                             (found ? "" : " (no list has that title: new reminders go to " + collections[0].title + ")"));
  } else {
    fact("default list", "none set: new reminders whose list is not found go to " + collections[0].title);
  }
}

void VdirPlatform::diagnoseAccess(StoreDiagnosis& d) {
  Env& env = *config_.env;
  const std::string& file = config_.settingsFile;
  PromptRoute route = promptRoute(PromptEnvironment::current());
  std::string asking;
  if (route.graphicalSession && !route.dialog.empty()) asking = "with " + route.dialog + " (" + route.dialogPath + ")";
  else if (route.terminal) asking = "on the terminal";
  if (route.graphicalSession && route.dialog.empty()) {
    std::string programs;
    for (const DialogProgram& p : dialogPrograms())
      programs += (programs.empty() ? "" : ", ") + p.name + " (package " + p.package + ")";
    asking += std::string(asking.empty() ? "" : " ") + "(no dialog program found: " + programs + ")";
  }
  d.facts.push_back({"asking", asking.empty() ? "nobody can be asked: no graphical session and no terminal" : asking});
  const bool nobody = !(route.graphicalSession && !route.dialog.empty()) && !route.terminal;
  for (EntityType type : {EntityType::event, EntityType::reminder}) {
    const std::string what = type == EntityType::event ? "events" : "reminders";
    int state = readAccessState(env, file, type);
    d.facts.push_back({"access to " + what, accessWord(state)});
    const std::string setIt = "set \"access\": {\"" + what + "\": \"full-access\"} in " + file;
    const std::string grant = "to grant it, " + setIt;
    if (state == auth_status::denied || state == auth_status::restricted)
      d.problems.push_back("access to " + what + " is " + accessWord(state) + "; " + grant);
    else if (state == auth_status::writeOnly)
      d.problems.push_back("access to " + what + " is write-only, which lists nothing; " + grant);
    else if (state != auth_status::notDetermined && state != auth_status::fullAccess)
      d.problems.push_back("the access to " + what + " cannot be read from " + file + "; " + grant);
    else if (state == auth_status::notDetermined && nobody)
      d.problems.push_back("nobody can be asked for access to " + what +
                           " here, so every run fails with the access not granted; install zenity (or kdialog, or "
                           "x11-utils), run tallowick request-access " + what + " in a terminal, or " + setIt);
  }
}

}  // namespace tallowick::ical
