#pragma once
// The one-shot chat, and the preparation it shares with the streamed one.

#include <memory>
#include <ostream>
#include <string>

#include "orvendel/model/language_model.h"

namespace orvendel {

struct PreparedChat {
  std::unique_ptr<LanguageModelSession> session;
  std::string prompt;  // the user message, trimmed
};

// Reads the request, then checks that the model is available, then that the
// trimmed user message is not blank, and builds the session. That order is
// part of the contract: a missing file wins over an unavailable model, which
// wins over a blank prompt. Throws the file or decoding error, or HelperError
// unavailable / malformed.
PreparedChat prepareChat(ModelPlatform& platform, const std::string& requestPath);

// Answers one turn and prints the whole answer, unchanged, as a ChatResponse.
// Model errors pass through unchanged.
void runChat(ModelPlatform& platform, std::ostream& out, const std::string& requestPath);

}  // namespace orvendel
