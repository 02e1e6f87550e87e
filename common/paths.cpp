#include "common/paths.h"

namespace vantrel {

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string resolveSettingsPath(const std::string& written, const std::string& settingsFile, const std::string& home) {
  if ((written == "~" || written.rfind("~/", 0) == 0) && !home.empty() && home[0] == '/') return home + written.substr(1);
  if (written.empty() || written[0] == '/') return written;
  if (settingsFile.find('/') == std::string::npos) return written;
  return directoryOf(settingsFile) + "/" + written;
}

}  // namespace vantrel
