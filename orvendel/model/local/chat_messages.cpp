#include "orvendel/model/local/chat_messages.h"

#include <nlohmann/json.hpp>

#include "text/unicode.h"

namespace orvendel::local {
namespace {

const char* roleOf(TranscriptEntry::Kind kind) {
  switch (kind) {
    case TranscriptEntry::Kind::instructions:
      return "system";
    case TranscriptEntry::Kind::prompt:
      return "user";
    case TranscriptEntry::Kind::response:
      break;
  }
  return "assistant";
}

}  // namespace

std::vector<ChatMessage> messagesFromTranscript(const Transcript& transcript) {
  std::vector<ChatMessage> messages;
  messages.reserve(transcript.entries.size());
  for (const auto& entry : transcript.entries) {
    std::string content;
    for (size_t i = 0; i < entry.segments.size(); ++i) {
      if (i > 0) content += '\n';
      content += entry.segments[i].content;
    }
    messages.push_back({roleOf(entry.kind), std::move(content)});
  }
  return messages;
}

std::vector<ChatMessage> messagesFromInstructions(const std::optional<std::string>& instructions) {
  if (!instructions || vantrel::text::trimWhitespaceAndNewlines(*instructions).empty()) return {};
  return {{"system", *instructions}};
}

std::string chatCompletionBody(const std::vector<ChatMessage>& context, const std::string& prompt,
                               const std::optional<std::string>& model, const GenerationOptions& options, bool stream) {
  nlohmann::ordered_json body = nlohmann::ordered_json::object();
  if (model) body["model"] = *model;
  auto& messages = body["messages"] = nlohmann::ordered_json::array();
  for (const auto& message : context) messages.push_back({{"role", message.role}, {"content", message.content}});
  messages.push_back({{"role", "user"}, {"content", prompt}});
  body["stream"] = stream;
  if (options.temperature) body["temperature"] = *options.temperature;
  if (options.maximumResponseTokens) body["max_tokens"] = *options.maximumResponseTokens;
  return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace orvendel::local
