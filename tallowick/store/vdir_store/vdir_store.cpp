#include "tallowick/store/vdir_store/vdir_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "common/paths.h"
#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/event_listing.h"
#include "tallowick/store/vdir/access_consent.h"
#include "tallowick/store/vdir/atomic_file.h"
#include "tallowick/store/vdir/settings.h"
#include "text/unicode.h"

namespace tallowick::ical {
namespace {

// A file takes well under a second within its budgets.
constexpr int64_t lastResortMicros = 20'000'000;

Calendar calendarOf(const Collection& c) { return {c.name, c.title}; }

}  // namespace

std::string storeRoot(const VdirStoreConfig& config, const std::optional<std::string>& configured) {
  if (!configured || configured->empty()) return config.defaultRoot;
  return vantrel::resolveSettingsPath(*configured, config.settingsFile, config.home);
}

int VdirPlatform::authorizationStatus(EntityType type) {
  return readAccessState(*config_.env, config_.settingsFile, type);
}

std::unique_ptr<CalendarStore> VdirPlatform::openStore() {
  Settings settings = readSettings(*config_.env, config_.settingsFile);
  std::string root = storeRoot(config_, settings.store);
  return std::make_unique<VdirStore>(config_, std::move(root), settings.defaultReminderList);
}

VdirStore::VdirStore(VdirStoreConfig config, std::string root, std::optional<std::string> defaultListTitle)
    : config_(std::move(config)),
      root_(std::move(root)),
      defaultListTitle_(std::move(defaultListTitle)),
      cache_(*config_.env, config_.cacheFile, root_) {}

void VdirStore::requestFullAccessToEvents(AccessCompletion completion) {
  requestAccess(EntityType::event, std::move(completion));
}

void VdirStore::requestFullAccessToReminders(AccessCompletion completion) {
  requestAccess(EntityType::reminder, std::move(completion));
}

void VdirStore::requestAccess(EntityType type, AccessCompletion completion) {
  requestConsent(*config_.env, config_.settingsFile, config_.lockFile, config_.prompt, type, completion);
}

const std::vector<Collection>& VdirStore::collections() {
  if (!collections_) collections_ = listCollections(*config_.env, root_);
  return *collections_;
}

std::vector<Calendar> VdirStore::calendars(EntityType) {
  std::vector<Calendar> out;
  for (const Collection& c : collections()) out.push_back(calendarOf(c));
  return out;
}

std::optional<Calendar> VdirStore::defaultCalendarForNewReminders() {
  if (!defaultListTitle_) return std::nullopt;
  for (const Collection& c : collections())
    if (vantrel::text::canonicallyEqual(c.title, *defaultListTitle_)) return calendarOf(c);
  return std::nullopt;
}

std::vector<std::vector<Item>> VdirStore::itemsOf(const std::vector<const Collection*>& wanted) {
  // The directories are read while the cache loads; then the status calls
  // are made in ranges small enough that both threads stay busy to the end,
  // whatever the sizes of the collections.
  std::vector<std::optional<ItemScan>> scans(wanted.size());
  Env& env = *config_.env;
  env.parallelFor(wanted.size() + 1, [&](size_t i) {
    if (i == 0) cache_.load();
    else scans[i - 1].emplace(env, collectionPath(wanted[i - 1]->name));
  });
  constexpr size_t namesPerRange = 256;
  struct Range {
    ItemScan* scan;
    size_t begin;
  };
  std::vector<Range> ranges;
  for (std::optional<ItemScan>& scan : scans)
    for (size_t begin = 0; begin < scan->size(); begin += namesPerRange) ranges.push_back({&*scan, begin});
  env.parallelFor(ranges.size(),
                  [&](size_t i) { ranges[i].scan->stat(ranges[i].begin, ranges[i].begin + namesPerRange); });
  std::vector<std::vector<Item>> items;
  items.reserve(scans.size());
  for (std::optional<ItemScan>& scan : scans) items.push_back(scan->take());
  return items;
}

std::vector<Event> VdirStore::events(const EventQuery& query) {
  std::unique_ptr<EventListing> listing = listEvents(query);
  std::vector<Event> out(listing->size());
  for (size_t i = 0; i < out.size(); ++i) listing->get(i, out[i]);
  return out;
}

std::unique_ptr<EventListing> VdirStore::listEvents(const EventQuery& query) {
  std::vector<const Collection*> all;
  for (const Collection& collection : collections()) all.push_back(&collection);
  std::vector<std::vector<Item>> items = itemsOf(all);

  // The files that may have something in the window, in store order.
  struct Candidate {
    const Collection* collection;
    const Item* item;
    std::string relative;
    bool summarized;
  };
  std::vector<Candidate> candidates;
  std::string relative;  // reused: most files are passed over
  for (size_t c = 0; c < all.size(); ++c) {
    for (const Item& item : items[c]) {
      relative.assign(all[c]->name).append(1, '/').append(item.name);
      const FileSummary* cached = cache_.find(relative, item.stamp);
      if (cached && !mayOverlap(*cached, query.start, query.end)) continue;
      candidates.push_back({all[c], &item, relative, cached != nullptr});
    }
  }

  // Reading, parsing and expanding is the rest of the time; each file on its
  // own, so two threads share them and the results keep the store order.
  std::vector<FileReading> found(candidates.size());
  config_.env->parallelFor(candidates.size(), [&](size_t i) {
    const Candidate& candidate = candidates[i];
    const FileSummary* known = candidate.summarized ? cache_.find(candidate.relative, candidate.item->stamp) : nullptr;
    found[i] = read(collectionPath(candidate.collection->name) + "/" + candidate.item->name, known, &query);
  });

  auto listing = std::make_unique<CompactEventListing>();
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& candidate = candidates[i];
    // Recorded under the stamp taken before reading: if the file changed in
    // between, the next run sees a new stamp and reads it again.
    if (found[i].summary && found[i].keep)
      cache_.record(candidate.relative, candidate.item->stamp, std::move(*found[i].summary));
    listing->addFile(calendarOf(*candidate.collection), std::move(found[i].occurrences));
  }
  cache_.save(true);
  listing->sort();
  return listing;
}

VdirStore::FileReading VdirStore::read(const std::string& path, const FileSummary* known, const EventQuery* window) const {
  FileReading reading;
  const ParseLimits limits;
  Env& env = *config_.env;
  std::string bytes;
  struct stat info {};
  int error = env.readFile(path, bytes, info, limits.bytes);
  if (error == EFBIG || error == EINVAL) {
    // Too large, or no regular file: the file's own size or kind says so.
    reading.summary = summarize(std::nullopt);
    reading.keep = true;
    return reading;
  }
  if (error != 0) return reading;
  // Budgets are facts about the file; this one is a last resort against a
  // machine that stopped the run or starved it, and what it decides is never
  // kept.
  const int64_t deadline = env.monotonicMicros() + lastResortMicros;
  auto tooLate = [&] { return env.monotonicMicros() > deadline; };
  try {
    std::optional<CalendarFile> file = CalendarFile::parse(bytes, *config_.zones, limits, tooLate);
    if (!known) {
      reading.summary = summarize(file);
      reading.keep = true;
      known = &*reading.summary;
    }
    if (file && window && !known->overBudget) reading.occurrences = file->occurrenceList(window->start, window->end);
  } catch (const ParseInterrupted&) {
    reading = {};
  } catch (const std::bad_alloc&) {
    // This file needs more memory than the machine has; the others may not.
    reading = {};
  }
  return reading;
}

// Open todos come from the summaries, so with a valid cache nothing is parsed;
// a file whose stamp is not in the cache is read and summarized first.
void VdirStore::fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion completion) {
  std::vector<Reminder> out;
  std::vector<const Collection*> wanted;
  for (const Collection& collection : collections()) {
    if (!query.calendars || std::any_of(query.calendars->begin(), query.calendars->end(),
                                        [&](const Calendar& c) { return c.identifier == collection.name; }))
      wanted.push_back(&collection);
  }
  std::vector<std::vector<Item>> items = itemsOf(wanted);
  for (size_t i = 0; i < wanted.size(); ++i) {
    const Collection& collection = *wanted[i];
    const std::string directory = collectionPath(collection.name);
    for (const Item& item : items[i]) {
      const std::string relative = collection.name + "/" + item.name;
      const FileSummary* summary = cache_.find(relative, item.stamp);
      FileReading fresh;
      if (!summary) {
        fresh = read(directory + "/" + item.name, nullptr, nullptr);
        if (!fresh.summary) continue;
        summary = &*fresh.summary;
      }
      for (const TodoItem& todo : summary->openTodos) {
        Reminder r;
        r.identifier = relative + "/" + std::to_string(todo.index);
        r.title = todo.title;
        r.notes = todo.notes;
        r.calendar = calendarOf(collection);
        r.dueDateComponents = todo.due;
        r.priority = todo.priority;
        snapshots_[r.identifier] = Snapshot{directory + "/" + item.name, item.stamp, todo.index, r};
        out.push_back(std::move(r));
      }
      if (fresh.summary && fresh.keep) cache_.record(relative, item.stamp, std::move(*fresh.summary));
    }
  }
  cache_.save(!query.calendars);
  completion(std::move(out));
}

}  // namespace tallowick::ical
