#include "tallowick/store/eds/store_choice.h"

#include <sys/stat.h>

#include <string_view>

#include "tallowick/store/calendar_store.h"

namespace tallowick::eds {
namespace {

bool isSocket(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A value of a D-Bus address: bytes outside the plain set are %XX.
std::string unescaped(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 && hexDigit(value[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// Whether one address ("unix:path=/run/user/1000/bus") may lead to a bus.
bool mayReach(std::string_view address, const char* runtimeDir) {
  if (address.empty()) return false;
  if (!address.starts_with("unix:")) return true;
  address.remove_prefix(5);
  while (!address.empty()) {
    size_t comma = address.find(',');
    std::string_view pair = address.substr(0, comma);
    address = comma == std::string_view::npos ? std::string_view() : address.substr(comma + 1);
    if (pair.starts_with("path=")) return isSocket(unescaped(pair.substr(5)));
    if (pair == "runtime=yes") return runtimeDir && *runtimeDir && isSocket(std::string(runtimeDir) + "/bus");
  }
  return true;  // abstract sockets and the like: only a connection can tell
}

}  // namespace

StoreChoice chooseStore(const ical::Settings& settings, const std::string& settingsFile, bool vdirRootExists,
                        bool sessionBus) {
  if (settings.backend) {
    if (*settings.backend == "vdir") return StoreChoice::vdir;
    if (*settings.backend == "eds") return StoreChoice::eds;
    throw StoreError("Invalid settings file " + settingsFile + ": member \"backend\" must be \"vdir\" or \"eds\"");
  }
  if ((settings.store && !settings.store->empty()) || vdirRootExists) return StoreChoice::vdir;
  return sessionBus ? StoreChoice::edsIfItAnswers : StoreChoice::vdir;
}

bool sessionBusPresent(const char* address, const char* runtimeDir) {
  if (!address || !*address) return runtimeDir && *runtimeDir && isSocket(std::string(runtimeDir) + "/bus");
  std::string_view addresses = address;
  // Several addresses are tried in turn; one that may lead somewhere will do.
  while (!addresses.empty()) {
    size_t semicolon = addresses.find(';');
    if (mayReach(addresses.substr(0, semicolon), runtimeDir)) return true;
    addresses = semicolon == std::string_view::npos ? std::string_view() : addresses.substr(semicolon + 1);
  }
  return false;
}

}  // namespace tallowick::eds
