#include "tallowick/zones/system_zones.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::zones {
namespace {

// Zone files are a few kilobytes; anything larger is not one.
constexpr size_t maxZoneFileBytes = 1 << 20;

std::optional<std::string> readZoneFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || bytes.size() + static_cast<size_t>(n) > maxZoneFileBytes) {
      ::close(fd);
      if (n == 0) return bytes;
      return std::nullopt;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

std::unique_ptr<ZoneRules> zoneFile(const std::string& path) {
  std::optional<std::string> bytes = readZoneFile(path);
  if (!bytes) return nullptr;
  std::optional<ZoneRules> rules = ZoneRules::parse(*bytes);
  return rules ? std::make_unique<ZoneRules>(std::move(*rules)) : nullptr;
}

// A name of a file inside the zone directory, never one outside it.
bool isZoneName(std::string_view name) {
  return !name.empty() && name.front() != '/' && name.find("..") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

class SystemZones : public ZoneSource {
 public:
  const ZoneRules* find(std::string_view name) const override {
    if (!isZoneName(name)) return nullptr;
    std::lock_guard<std::mutex> hold(mutex_);
    return findLocked(name);
  }

  const ZoneRules& local() const override {
    const char* tz = std::getenv("TZ");
    std::string key = tz ? std::string("TZ=") + tz : std::string();
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = locals_.find(key);
    if (it == locals_.end()) it = locals_.emplace(key, resolveLocal(tz)).first;
    return it->second ? *it->second : ZoneRules::utc();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::map<std::string, std::unique_ptr<ZoneRules>, std::less<>> zones_;
  // By the value of TZ; null for UTC.
  mutable std::map<std::string, const ZoneRules*, std::less<>> locals_;
  // The zones read from a path or a rule string.
  mutable std::vector<std::unique_ptr<ZoneRules>> owned_;

  const ZoneRules* findLocked(std::string_view name) const {
    auto it = zones_.find(name);
    if (it != zones_.end()) return it->second.get();
    const char* dir = std::getenv("TZDIR");
    std::string path = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + std::string(name);
    return zones_.emplace(std::string(name), zoneFile(path)).first->second.get();
  }

  const ZoneRules* own(std::unique_ptr<ZoneRules> zone) const {
    if (!zone) return nullptr;
    owned_.push_back(std::move(zone));
    return owned_.back().get();
  }

  const ZoneRules* resolveLocal(const char* tz) const {
    if (!tz) return own(zoneFile("/etc/localtime"));
    std::string_view value = tz;
    if (!value.empty() && value.front() == ':') value.remove_prefix(1);
    if (value.empty()) return nullptr;
    if (value.front() == '/') return own(zoneFile(std::string(value)));
    if (isZoneName(value))
      if (const ZoneRules* named = findLocked(value)) return named;
    std::optional<ZoneRules> rule = ZoneRules::fromPosix(value);
    return rule ? own(std::make_unique<ZoneRules>(std::move(*rule))) : nullptr;
  }
};

}  // namespace

const ZoneSource& systemZones() {
  static const SystemZones source;
  return source;
}

}  // namespace tallowick::zones
