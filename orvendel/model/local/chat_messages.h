#pragma once
// Sessions as the chat completions API sees them: a list of role/content
// messages, and the request body that carries them.

#include <optional>
#include <string>
#include <vector>

#include "orvendel/model/language_model.h"

namespace orvendel::local {

struct ChatMessage {
  std::string role;  // "system", "user" or "assistant"
  std::string content;
};

// Instructions become "system", prompts "user", responses "assistant"; an
// entry's segments are joined with line feeds.
std::vector<ChatMessage> messagesFromTranscript(const Transcript& transcript);

// One "system" message, unless the instructions are absent or blank: a blank
// system message would only displace the chat template's default one.
std::vector<ChatMessage> messagesFromInstructions(const std::optional<std::string>& instructions);

// The JSON body of a chat completion request: the context, then `prompt` as
// the new user message; "model" when given; "temperature" and "max_tokens"
// when the options set them.
std::string chatCompletionBody(const std::vector<ChatMessage>& context, const std::string& prompt,
                               const std::optional<std::string>& model, const GenerationOptions& options, bool stream);

}  // namespace orvendel::local
