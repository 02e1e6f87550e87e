#include "orvendel/session.h"

#include <uuid/uuid.h>

#include "text/unicode.h"

namespace orvendel {
namespace {

TranscriptEntry makeEntry(TranscriptEntry::Kind kind, std::string text) {
  TranscriptEntry entry;
  entry.kind = kind;
  entry.segments.push_back(TextSegment{freshId(), std::move(text)});
  if (kind == TranscriptEntry::Kind::prompt) entry.options = defaultGenerationOptions();
  entry.id = freshId();
  return entry;
}

}  // namespace

std::string trimmed(std::string_view text) { return std::string(vantrel::text::trimWhitespaceAndNewlines(text)); }

std::string freshId() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return std::string(text, 36);
}

GenerationOptions defaultGenerationOptions() { return GenerationOptions{}; }

std::unique_ptr<LanguageModelSession> makeSession(ModelPlatform& platform,
                                                  const std::optional<std::string>& systemPrompt,
                                                  const std::vector<HistoryMessage>& history) {
  LanguageModel& model = platform.defaultModel();
  Transcript transcript;
  if (systemPrompt) {
    std::string instructions = trimmed(*systemPrompt);
    if (!instructions.empty())
      transcript.entries.push_back(makeEntry(TranscriptEntry::Kind::instructions, std::move(instructions)));
  }
  for (const HistoryMessage& message : history) {
    std::string content = trimmed(message.content);
    if (content.empty()) continue;
    if (message.role == "user") {
      transcript.entries.push_back(makeEntry(TranscriptEntry::Kind::prompt, std::move(content)));
    } else if (message.role == "assistant") {
      transcript.entries.push_back(makeEntry(TranscriptEntry::Kind::response, std::move(content)));
    }
  }
  if (transcript.entries.empty()) return model.makeSession(systemPrompt);
  return model.makeSession(transcript);
}

}  // namespace orvendel
