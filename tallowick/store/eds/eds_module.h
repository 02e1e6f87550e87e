#pragma once
// Finding and opening tallowick-eds.so, the module that talks to EDS (see
// eds_service.h). It is opened only when a run uses EDS, and stays loaded to
// the end of the process: GLib's types cannot be unloaded.

#include <memory>
#include <string>

#include "tallowick/store/eds/eds_service.h"

namespace tallowick::eds {

// The module's path: `overridePath` when it is set and not empty (the
// variable TALLOWICK_EDS_MODULE, for tests), else `relative` taken from the
// directory of the program at `programPath`.
std::string edsModulePath(const char* overridePath, const std::string& programPath, const std::string& relative);

// The path of the running program (/proc/self/exe); empty when unknown.
std::string runningProgramPath();

// A new, unconnected service of the module at `path`. Throws StoreError,
// naming the path, when the module cannot be loaded (EDS's libraries are not
// installed, or there is no such file) or is of another build.
std::unique_ptr<EdsService> loadEdsService(const std::string& path);

}  // namespace tallowick::eds
