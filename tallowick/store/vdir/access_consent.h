#pragma once
// The person's consent to the use of their events or reminders, as this
// project keeps it in the settings file, whatever store holds the data.

#include "tallowick/store/vdir/layer.h"

#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/access_prompt.h"
#include "tallowick/store/vdir/env.h"

namespace tallowick::ical {

// Answers at once when the person has decided (granted only for
// "full-access"); otherwise asks them with `prompt` and records the answer in
// `settingsFile` under the write lock `lockFile`. When nobody can be asked,
// nothing is recorded, so the next run asks again. Calls `completion` exactly
// once; throws StoreError instead when the person answered and the answer
// cannot be recorded.
void requestConsent(Env& env, const std::string& settingsFile, const std::string& lockFile,
                    const AccessPrompter& prompt, EntityType type, const AccessCompletion& completion);

}  // namespace tallowick::ical
