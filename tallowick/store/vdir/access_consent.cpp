#include "tallowick/store/vdir/access_consent.h"

#include "tallowick/store/vdir/settings.h"

namespace tallowick::ical {

void requestConsent(Env& env, const std::string& settingsFile, const std::string& lockFile,
                    const AccessPrompter& prompt, EntityType type, const AccessCompletion& completion) {
  int state = readAccessState(env, settingsFile, type);
  if (state != auth_status::notDetermined) {
    completion(state == auth_status::fullAccess, std::nullopt);
    return;
  }
  PromptAnswer answer = prompt ? prompt(type) : PromptAnswer::unanswered;
  // Nobody could be asked: nothing is recorded, so the next run asks again.
  if (answer == PromptAnswer::unanswered) {
    completion(false, std::nullopt);
    return;
  }
  // An answer that cannot be kept is not taken as a refusal: the person said
  // something, and the run fails with why it was lost.
  bool granted = answer == PromptAnswer::granted;
  recordAccessState(env, settingsFile, type, granted, lockFile);
  completion(granted, std::nullopt);
}

}  // namespace tallowick::ical
