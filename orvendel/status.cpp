#include "orvendel/status.h"

#include "orvendel/helper_error.h"

namespace orvendel {

StatusResponse makeStatusResponse(LanguageModel& model) {
  StatusResponse status;
  for (const Language& language : model.supportedLanguages())
    if (language.languageCode) status.supportedLanguages.push_back(*language.languageCode);
  status.available = model.isAvailable();
  // The reason follows a query of its own, not the flag read above.
  if (!model.isAvailable()) status.reason = kUnavailableMessage;
  status.modelName = kModelName;
  return status;
}

void runStatus(ModelPlatform& platform, std::ostream& out) {
  encodeAndPrint(makeStatusResponse(platform.defaultModel()), out);
}

}  // namespace orvendel
