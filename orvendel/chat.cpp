#include "orvendel/chat.h"

#include "orvendel/helper_error.h"
#include "orvendel/session.h"
#include "orvendel/wire.h"

namespace orvendel {

PreparedChat prepareChat(ModelPlatform& platform, const std::string& requestPath) {
  ChatRequest request = readChatRequest(requestPath);
  if (!platform.defaultModel().isAvailable()) throw HelperError::unavailable(kUnavailableMessage);
  std::string prompt = trimmed(request.userMessage);
  if (prompt.empty()) throw HelperError::malformed(kEmptyPromptMessage);
  return PreparedChat{makeSession(platform, request.systemPrompt, request.history), std::move(prompt)};
}

void runChat(ModelPlatform& platform, std::ostream& out, const std::string& requestPath) {
  PreparedChat chat = prepareChat(platform, requestPath);
  std::string answer = chat.session->respond(chat.prompt, defaultGenerationOptions());
  encodeAndPrint(ChatResponse{std::move(answer)}, out);
}

}  // namespace orvendel
