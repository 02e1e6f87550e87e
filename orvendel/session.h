#pragma once
// Turning a request's system prompt and earlier turns into a model session.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvendel/model/language_model.h"
#include "orvendel/wire.h"

namespace orvendel {

// Leading and trailing white space and line breaks removed; inner text kept.
std::string trimmed(std::string_view text);

// A fresh random (version 4) UUID in its 36-character upper-case text form.
std::string freshId();

// Default generation options: sampling mode, temperature and maximum response
// tokens unset.
GenerationOptions defaultGenerationOptions();

// A session on the platform's default model. A non-blank system prompt becomes
// an instructions entry; "user" turns become prompt entries and "assistant"
// turns response entries, each trimmed; blank turns and other roles are
// dropped. With no entry at all, the session gets the system prompt exactly as
// received as its instructions. Never fails.
std::unique_ptr<LanguageModelSession> makeSession(ModelPlatform& platform,
                                                  const std::optional<std::string>& systemPrompt,
                                                  const std::vector<HistoryMessage>& history);

}  // namespace orvendel
