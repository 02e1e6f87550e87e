#include "orvendel/wire.h"

#include <nlohmann/json.hpp>

#include "common/json_document.h"
#include "common/request_file.h"
#include "orvendel/helper_error.h"
#include "text/json_string.h"
#include "text/utf8.h"

namespace orvendel {
namespace {

using nlohmann::json;

class Decoder {
 public:
  explicit Decoder(const std::string& path) : path_(path) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw RequestDecodeError("Invalid request file " + path_ + ": " + what);
  }

  const json& member(const json& object, const char* name, const std::string& where) const {
    auto it = object.find(name);
    if (it == object.end()) fail(where + "member \"" + name + "\" is missing");
    return *it;
  }

  std::string string(const json& value, const char* name, const std::string& where) const {
    if (!value.is_string()) fail(where + "member \"" + name + "\" must be a string, not " + typeName(value));
    return value.get<std::string>();
  }

  std::string requiredString(const json& object, const char* name, const std::string& where = {}) const {
    return string(member(object, name, where), name, where);
  }

  static std::string typeName(const json& value) {
    if (value.is_null()) return "null";
    if (value.is_boolean()) return "a boolean";
    if (value.is_number()) return "a number";
    if (value.is_string()) return "a string";
    if (value.is_array()) return "an array";
    return "an object";
  }

 private:
  const std::string& path_;
};

}  // namespace

ChatRequest decodeChatRequest(const std::string& bytes, const std::string& path) {
  Decoder decoder(path);
  json document;
  try {
    document = vantrel::parseJsonDocument(bytes);
  } catch (const vantrel::JsonParseError& e) {
    decoder.fail(e.what());
  }
  if (!document.is_object()) decoder.fail("the top-level value must be an object, not " + Decoder::typeName(document));

  ChatRequest request;
  if (auto it = document.find("systemPrompt"); it != document.end() && !it->is_null())
    request.systemPrompt = decoder.string(*it, "systemPrompt", {});
  request.userMessage = decoder.requiredString(document, "userMessage");
  const json& history = decoder.member(document, "history", {});
  if (!history.is_array()) decoder.fail("member \"history\" must be an array, not " + Decoder::typeName(history));
  request.history.reserve(history.size());
  for (size_t i = 0; i < history.size(); ++i) {
    const json& element = history[i];
    std::string where = "history element " + std::to_string(i) + ": ";
    if (!element.is_object()) decoder.fail(where + "must be an object, not " + Decoder::typeName(element));
    HistoryMessage message;
    message.role = decoder.requiredString(element, "role", where);
    message.content = decoder.requiredString(element, "content", where);
    request.history.push_back(std::move(message));
  }
  return request;
}

ChatRequest readChatRequest(const std::string& path) {
  return decodeChatRequest(vantrel::readRequestFile(path), path);
}

void encodeInto(std::string& out, const StatusResponse& record) {
  out += "{\"available\":";
  out += record.available ? "true" : "false";
  out += ",\"modelName\":";
  vantrel::text::appendJsonString(out, record.modelName);
  out += ",\"supportedLanguages\":[";
  for (size_t i = 0; i < record.supportedLanguages.size(); ++i) {
    if (i > 0) out.push_back(',');
    vantrel::text::appendJsonString(out, record.supportedLanguages[i]);
  }
  out.push_back(']');
  if (record.contextSize) {
    out += ",\"contextSize\":";
    out += std::to_string(*record.contextSize);
  }
  if (record.reason) {
    out += ",\"reason\":";
    vantrel::text::appendJsonString(out, *record.reason);
  }
  out.push_back('}');
}

void encodeInto(std::string& out, const ChatResponse& record) {
  out += "{\"content\":";
  vantrel::text::appendJsonString(out, record.content);
  out.push_back('}');
}

void encodeInto(std::string& out, const StreamChunk& record) {
  out += "{\"type\":";
  vantrel::text::appendJsonString(out, record.type);
  out += ",\"content\":";
  vantrel::text::appendJsonString(out, record.content);
  out.push_back('}');
}

namespace {

template <typename Record>
void print(const Record& record, std::ostream& out) {
  std::string line;
  encodeInto(line, record);
  if (!vantrel::text::isValidUtf8(line)) throw HelperError::malformed(kEncodeFailedMessage);
  line.push_back('\n');
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace

void encodeAndPrint(const StatusResponse& record, std::ostream& out) { print(record, out); }
void encodeAndPrint(const ChatResponse& record, std::ostream& out) { print(record, out); }

}  // namespace orvendel
