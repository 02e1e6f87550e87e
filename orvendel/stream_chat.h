#pragma once
// The streamed chat: one flushed "token" line per snapshot that adds text, then
// a "done" line.

#include <ostream>
#include <string>

#include "orvendel/model/language_model.h"
#include "orvendel/wire.h"

namespace orvendel {

// Writes StreamChunk lines, one encode buffer for the whole run. Never throws
// on a line it cannot encode: such a line is dropped. Flushes after each line
// so the host sees it at once, and throws vantrel::OutputWriteError when the
// line could not be written.
class StreamChunkWriter {
 public:
  explicit StreamChunkWriter(std::ostream& out) : out_(out) {}
  void write(const StreamChunk& chunk);

 private:
  std::ostream& out_;
  std::string buffer_;
};

// Prepares like runChat, then streams the answer. A stream error passes
// through unchanged; lines already written stay and no "done" line follows.
// The first line that cannot be written ends the run with OutputWriteError,
// without reading the rest of the stream.
void runStreamChat(ModelPlatform& platform, std::ostream& out, const std::string& requestPath);

}  // namespace orvendel
