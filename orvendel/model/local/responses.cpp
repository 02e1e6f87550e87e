#include "orvendel/model/local/responses.h"

#include "common/json_document.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

constexpr size_t kMaxMessageBytes = 500;

ModelError unexpected(const std::string& what) { return ModelError("Local model sent an unexpected response: " + what); }

}  // namespace

std::string oneLineMessage(std::string_view text) {
  std::string line = vantrel::text::repairUtf8(text);
  for (char& c : line)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  line = std::string(vantrel::text::trimWhitespaceAndNewlines(line));
  if (line.size() > kMaxMessageBytes) {
    size_t cut = kMaxMessageBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line = line.substr(0, cut) + "...";
  }
  return line;
}

std::string serverMessageOf(const nlohmann::json& payload) {
  const nlohmann::json* error = &payload;
  if (payload.is_object()) {
    if (auto it = payload.find("error"); it != payload.end()) error = &*it;
  }
  if (error->is_string()) return oneLineMessage(error->get<std::string>());
  if (error->is_object()) {
    auto it = error->find("message");
    if (it != error->end() && it->is_string()) return oneLineMessage(it->get<std::string>());
  }
  return "";
}

bool choiceWasCutOff(const nlohmann::json& choice) {
  if (!choice.is_object()) return false;
  auto reason = choice.find("finish_reason");
  return reason != choice.end() && reason->is_string() && reason->get_ref<const std::string&>() == "length";
}

std::string answerFromCompletion(std::string_view body) {
  nlohmann::json document = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(body));
  if (document.is_discarded()) throw unexpected("the body is not JSON");
  if (!document.is_object()) throw unexpected("the body is not a JSON object");
  if (document.contains("error")) {
    std::string message = serverMessageOf(document);
    throw ModelError(message.empty() ? "Local model failed" : "Local model failed: " + message);
  }
  auto choices = document.find("choices");
  if (choices == document.end() || !choices->is_array() || choices->empty() || !(*choices)[0].is_object())
    throw unexpected("no choices");
  const auto& choice = (*choices)[0];
  auto message = choice.find("message");
  if (message == choice.end() || !message->is_object()) throw unexpected("no message in choices[0]");
  auto content = message->find("content");
  if (content == message->end() || !content->is_string()) throw unexpected("no text in choices[0].message.content");
  // Printed as the whole answer, a truncated one would pass for complete.
  if (choiceWasCutOff(choice)) throw ModelError(kCutOffMessage);
  return content->get<std::string>();
}

ModelError httpStatusError(long status, std::string_view body) {
  std::string prefix = "Local model answered HTTP " + std::to_string(status);
  nlohmann::json document = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(body));
  std::string message = document.is_discarded() ? std::string() : serverMessageOf(document);
  // A plain-text body (a proxy's or a runtime's own page) still says more than
  // the bare status.
  if (message.empty() && document.is_discarded()) message = oneLineMessage(body);
  return ModelError(message.empty() ? prefix : prefix + ": " + message);
}

}  // namespace orvendel::local
