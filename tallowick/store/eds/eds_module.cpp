#include "tallowick/store/eds/eds_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "tallowick/store/calendar_store.h"

namespace tallowick::eds {

std::string edsModulePath(const char* overridePath, const std::string& programPath, const std::string& relative) {
  if (overridePath && *overridePath) return overridePath;
  size_t slash = programPath.rfind('/');
  return (slash == std::string::npos ? std::string(".") : programPath.substr(0, slash)) + "/" + relative;
}

std::string runningProgramPath() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::unique_ptr<EdsService> loadEdsService(const std::string& path) {
  const std::string failure = "Cannot load the evolution-data-server module " + path + ": ";
  // RTLD_LOCAL: its libraries' symbols stay its own. RTLD_LAZY: of the
  // thousands of symbols its fifty libraries import, a run uses a few
  // hundred, and binding them all first took several milliseconds. Never
  // closed.
  void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!module) {
    const char* error = ::dlerror();
    std::string reason = error ? error : "unknown error";
    // dlerror names the file first, as the message does already.
    if (reason.starts_with(path + ": ")) reason.erase(0, path.size() + 2);
    throw StoreError(failure + reason);
  }
  auto factory = reinterpret_cast<EdsServiceFactory>(::dlsym(module, edsServiceFactoryName));
  if (!factory) throw StoreError(failure + "it has no " + edsServiceFactoryName);
  std::unique_ptr<EdsService> service(factory(edsServiceInterfaceVersion));
  if (!service) throw StoreError(failure + "it belongs to another build of tallowick");
  return service;
}

}  // namespace tallowick::eds
