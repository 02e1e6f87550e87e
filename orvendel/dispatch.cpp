#include "orvendel/dispatch.h"

#include "orvendel/chat.h"
#include "orvendel/doctor.h"
#include "orvendel/helper_error.h"
#include "orvendel/status.h"
#include "orvendel/stream_chat.h"

namespace orvendel {
namespace {

const std::string& requestPath(const std::vector<std::string>& args) {
  // An empty second argument is a path too; reading it fails later.
  if (args.size() < 2) throw HelperError::usage(kMissingRequestFileMessage);
  return args[1];
}

}  // namespace

void dispatch(const std::vector<std::string>& args, ModelPlatform& platform, std::ostream& out) {
  if (args.empty()) throw HelperError::usage(kUsageMessage);
  if (!platform.isOperatingSystemAtLeast(26, 0, 0)) throw HelperError::unsupportedPlatform(kUnsupportedPlatformMessage);
  const std::string& command = args[0];
  if (command == "status") return runStatus(platform, out);
  if (command == "chat") return runChat(platform, out, requestPath(args));
  if (command == "stream-chat") return runStreamChat(platform, out, requestPath(args));
  // For a person; the usage line, which the host shows, stays as it is.
  if (command == "doctor") return runDoctor(platform, out);
  throw HelperError::usage(kUnknownCommandPrefix + command);
}

}  // namespace orvendel
