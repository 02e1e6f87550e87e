#pragma once
// What crosses orvendel's process boundary: the chat request file the host
// writes, and the records printed on stdout, each as one compact JSON line.

#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvendel {

struct HistoryMessage {
  std::string role;
  std::string content;
};

struct ChatRequest {
  std::optional<std::string> systemPrompt;
  std::string userMessage;
  std::vector<HistoryMessage> history;
};

struct ChatResponse {
  std::string content;
};

struct StatusResponse {
  bool available = false;
  std::string modelName;
  std::vector<std::string> supportedLanguages;
  std::optional<int64_t> contextSize;
  std::optional<std::string> reason;
};

struct StreamChunk {
  std::string type;  // "token" or "done"
  std::string content;
};

// A request file that is not JSON or not a ChatRequest. what() is one line
// naming the file and what is wrong with it.
class RequestDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads and decodes the request file at `path`. Types are strict; a missing or
// null `systemPrompt` is none; members of other names are ignored at every
// level. Throws vantrel::RequestFileError or RequestDecodeError.
ChatRequest decodeChatRequest(const std::string& bytes, const std::string& path);
ChatRequest readChatRequest(const std::string& path);

// Appends the record as compact JSON (absent optionals left out, never null),
// without a line feed. Reuses `out`'s capacity, so one buffer can serve a
// whole stream.
void encodeInto(std::string& out, const StatusResponse& record);
void encodeInto(std::string& out, const ChatResponse& record);
void encodeInto(std::string& out, const StreamChunk& record);

// Writes the record and one line feed to `out`, without flushing. Throws
// HelperError malformed when the encoded bytes are not valid UTF-8; nothing is
// written then.
void encodeAndPrint(const StatusResponse& record, std::ostream& out);
void encodeAndPrint(const ChatResponse& record, std::ostream& out);

}  // namespace orvendel
