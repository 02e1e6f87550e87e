#include "orvendel/stream_chat.h"

#include <cerrno>

#include "common/job.h"
#include "orvendel/chat.h"
#include "orvendel/session.h"
#include "orvendel/stream_delta.h"
#include "text/utf8.h"

namespace orvendel {

void StreamChunkWriter::write(const StreamChunk& chunk) {
  buffer_.clear();
  encodeInto(buffer_, chunk);
  if (!vantrel::text::isValidUtf8(buffer_)) return;
  buffer_.push_back('\n');
  out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  out_.flush();
  // The host has gone or cannot take more: every later line would be lost
  // too, so the model need not be read any further.
  if (!out_) throw vantrel::OutputWriteError(errno);
}

void runStreamChat(ModelPlatform& platform, std::ostream& out, const std::string& requestPath) {
  PreparedChat chat = prepareChat(platform, requestPath);
  StreamChunkWriter writer(out);
  std::unique_ptr<ResponseStream> stream = chat.session->streamResponse(chat.prompt, defaultGenerationOptions());
  std::string previous;
  while (std::optional<std::string> text = stream->next()) {
    std::string_view delta = streamDelta(previous, *text);
    if (!delta.empty()) writer.write(StreamChunk{"token", std::string(delta)});
    previous = std::move(*text);
  }
  writer.write(StreamChunk{"done", ""});
}

}  // namespace orvendel
