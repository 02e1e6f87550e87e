#include "orvendel/model/local/chat_stream_decoder.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "common/json_document.h"
#include "orvendel/model/language_model.h"
#include "orvendel/model/local/responses.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

constexpr size_t kMaxRawBody = 1 << 20;

std::string failedWith(const std::string& message) {
  return message.empty() ? "Local model failed while answering" : "Local model failed: " + message;
}

std::string unexpectedEvent(const std::string& what) {
  return "Local model sent an unexpected stream event: " + what;
}

std::string eventTooLarge() {
  return unexpectedEvent("one event is larger than " + std::to_string(kMaxEventBytes >> 20) +
                         " MiB, the most this helper accepts");
}

}  // namespace

void ChatStreamDecoder::fail(std::string message) {
  done_ = true;
  failure_ = std::move(message);
}

void ChatStreamDecoder::feed(std::string_view bytes) {
  if (done_) return;
  if (!sawField_ && raw_.size() < kMaxRawBody) raw_.append(bytes.substr(0, kMaxRawBody - raw_.size()));
  pending_.append(bytes);
  size_t start = 0;
  size_t i = scanned_;
  for (; i < pending_.size() && !done_; ++i) {
    char c = pending_[i];
    if (c != '\n' && c != '\r') continue;
    // A CR at the very end may be the first half of a CRLF still on its way.
    if (c == '\r' && i + 1 == pending_.size()) break;
    processLine(std::string_view(pending_).substr(start, i - start));
    if (c == '\r' && pending_[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (!done_ && pending_.size() - start + data_.size() > kMaxEventBytes) fail(eventTooLarge());
  if (done_) {
    pending_.clear();
    scanned_ = 0;
    return;
  }
  pending_.erase(0, start);
  scanned_ = i - start;
}

void ChatStreamDecoder::processLine(std::string_view line) {
  if (line.empty()) {
    dispatchEvent();
    return;
  }
  if (line.front() == ':') return;  // comment, such as a keep-alive
  size_t colon = line.find(':');
  std::string_view field = line.substr(0, colon);
  std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
  if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  if (field == "data") {
    sawField_ = true;
    if (data_.size() + value.size() + 1 > kMaxEventBytes) return fail(eventTooLarge());
    if (hasData_) data_ += '\n';
    data_.append(value);
    hasData_ = true;
  } else if (field == "error") {
    sawField_ = true;
    errorField_ = std::string(value);
  }
}

void ChatStreamDecoder::dispatchEvent() {
  if (errorField_) {
    // llama-server reports a failure as "error: {...}" and may still send
    // [DONE] after it: the answer is broken all the same.
    nlohmann::json payload = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(*errorField_));
    std::string message =
        payload.is_discarded() ? oneLineMessage(*errorField_) : serverMessageOf(payload);
    return fail(failedWith(message));
  }
  if (!hasData_) return;
  std::string data = std::move(data_);
  data_.clear();
  hasData_ = false;
  handleData(data);
}

void ChatStreamDecoder::handleData(std::string_view data) {
  if (data == "[DONE]") {
    done_ = true;
    return;
  }
  nlohmann::json chunk = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(data));
  if (chunk.is_discarded() || !chunk.is_object()) {
    return fail(unexpectedEvent("not a JSON object"));
  }
  if (chunk.contains("error")) {
    return fail(failedWith(serverMessageOf(chunk)));
  }
  // A chunk without choices (a usage summary, say) adds nothing.
  auto choices = chunk.find("choices");
  if (choices == chunk.end() || !choices->is_array() || choices->empty()) return;
  const auto& choice = (*choices)[0];
  if (!choice.is_object()) {
    return fail(unexpectedEvent("choices[0] is not an object"));
  }
  auto delta = choice.find("delta");
  if (delta != choice.end() && delta->is_object()) {
    // Only "content" is answer text; "reasoning_content" and "reasoning" are
    // the model thinking aloud.
    auto content = delta->find("content");
    if (content != delta->end() && !content->is_null()) {
      if (!content->is_string()) {
        return fail(unexpectedEvent("delta.content is not text"));
      }
      const auto& piece = content->get_ref<const std::string&>();
      if (!piece.empty()) {
        text_ += piece;
        snapshotEnds_.push_back(text_.size());
      }
    }
  }
  // The text that came with it still counts, but the answer is incomplete:
  // ending it with [DONE] as usual would pass it off as whole.
  if (choiceWasCutOff(choice)) fail(kCutOffMessage);
}

void ChatStreamDecoder::finish() {
  if (done_) return;
  // The last line may lack its line end; an event still open at the end
  // counts if its lines were complete.
  if (!pending_.empty() && pending_.back() == '\r') {
    pending_.pop_back();
    processLine(pending_);
    pending_.clear();
  }
  if (!done_) dispatchEvent();
  if (done_) return;
  if (!sawField_) {
    // Not an event stream at all: perhaps a JSON error with status 200.
    nlohmann::json body = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(raw_));
    if (!body.is_discarded() && body.is_object() && body.contains("error")) return fail(failedWith(serverMessageOf(body)));
    if (raw_.empty()) return fail("Local model ended the answer without sending anything");
    return fail("Local model sent an unexpected response: not an event stream");
  }
  fail("Local model's answer was cut off: the stream ended without [DONE]");
}

std::optional<std::string> ChatStreamDecoder::takeSnapshot() {
  if (snapshotEnds_.empty()) {
    if (failure_) throw ModelError(*std::exchange(failure_, std::nullopt));
    return std::nullopt;
  }
  size_t end = snapshotEnds_.front();
  snapshotEnds_.pop_front();
  return text_.substr(0, end);
}

}  // namespace orvendel::local
