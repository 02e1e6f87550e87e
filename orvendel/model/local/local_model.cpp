#include "orvendel/model/local/local_model.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "orvendel/model/local/chat_messages.h"
#include "orvendel/model/local/chat_stream_decoder.h"
#include "orvendel/model/local/http.h"
#include "orvendel/model/local/responses.h"
#include "common/json_document.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

constexpr std::string_view kChatPath = "/v1/chat/completions";

// The failure `e` without the API key in its text: a server may quote the
// header it refused, and the message goes to the host's log.
ModelError withoutKey(const std::exception& e, const std::optional<std::string>& apiKey) {
  constexpr std::string_view kHidden = "<API key>";
  std::string message = e.what();
  if (apiKey) {
    for (size_t at = message.find(*apiKey); at != std::string::npos; at = message.find(*apiKey, at + kHidden.size()))
      message.replace(at, apiKey->size(), kHidden);
  }
  return ModelError(message);
}

bool keyRefused(const HttpResponse& response) { return response.status == 401 || response.status == 403; }

class LocalResponseStream : public ResponseStream {
 public:
  LocalResponseStream(const std::string& url, std::string body, const std::optional<std::string>& apiKey)
      : post_(url, std::move(body), apiKey), apiKey_(apiKey) {}

  std::optional<std::string> next() override {
    if (finished_) return std::nullopt;
    try {
      return advance();
    } catch (const std::exception& e) {
      finished_ = true;
      throw withoutKey(e, apiKey_);
    } catch (...) {
      finished_ = true;
      throw;
    }
  }

 private:
  std::optional<std::string> advance() {
    for (;;) {
      if (auto snapshot = decoder_.takeSnapshot()) return snapshot;
      if (decoder_.done()) {
        finished_ = true;
        return std::nullopt;
      }
      std::optional<std::string_view> bytes;
      try {
        bytes = post_.pump();
      } catch (const HttpFailure& e) {
        throw ModelError(e.what());
      }
      long status = post_.status();
      if (status != 200 && status != 0) {
        // An error status comes before any event: collect its body whole.
        if (bytes) {
          errorBody_.append(*bytes);
          continue;
        }
        throw httpStatusError(status, errorBody_);
      }
      if (bytes) {
        decoder_.feed(*bytes);
      } else {
        decoder_.finish();
      }
    }
  }

  StreamingPost post_;
  std::optional<std::string> apiKey_;
  ChatStreamDecoder decoder_;
  std::string errorBody_;
  bool finished_ = false;
};

class LocalSession : public LanguageModelSession {
 public:
  LocalSession(const std::optional<Endpoint>& endpoint, const ModelSettings& settings, std::vector<ChatMessage> context)
      : endpoint_(endpoint), settings_(settings), context_(std::move(context)) {}

  std::string respond(const std::string& prompt, const GenerationOptions& options) override {
    std::string url = chatUrl();
    std::string body = chatCompletionBody(context_, prompt, settings_.model, options, false);
    try {
      HttpResponse response = httpPostJson(url, body, settings_.apiKey);
      if (response.status != 200) throw httpStatusError(response.status, response.body);
      return answerFromCompletion(response.body);
    } catch (const std::exception& e) {
      throw withoutKey(e, settings_.apiKey);
    }
  }

  std::unique_ptr<ResponseStream> streamResponse(const std::string& prompt, const GenerationOptions& options) override {
    std::string body = chatCompletionBody(context_, prompt, settings_.model, options, true);
    try {
      return std::make_unique<LocalResponseStream>(chatUrl(), std::move(body), settings_.apiKey);
    } catch (const std::exception& e) {
      // Asking for a stream never fails; the failure shows on its first next().
      struct Failed : ResponseStream {
        std::string message;
        std::optional<std::string> next() override {
          if (message.empty()) return std::nullopt;
          throw ModelError(std::exchange(message, std::string()));
        }
      };
      auto failed = std::make_unique<Failed>();
      failed->message = e.what();
      return failed;
    }
  }

 private:
  // Refuses, without contact, what isAvailable() would have called
  // unavailable, for callers that did not ask.
  std::string chatUrl() const {
    if (settings_.problem) throw ModelError(*settings_.problem);
    if (!endpoint_)
      throw ModelError("Local model endpoint is not on this machine (loopback only): " +
                       oneLineMessage(settings_.endpoint));
    return endpoint_->url(kChatPath);
  }

  std::optional<Endpoint> endpoint_;
  ModelSettings settings_;
  std::vector<ChatMessage> context_;
};

}  // namespace

bool modelsListOffers(std::string_view body, const std::optional<std::string>& model) {
  nlohmann::json document = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(body));
  if (document.is_discarded() || !document.is_object()) return false;
  auto data = document.find("data");
  if (data == document.end() || !data->is_array()) return false;
  for (const auto& entry : *data) {
    if (!entry.is_object()) continue;
    auto id = entry.find("id");
    if (id == entry.end() || !id->is_string()) continue;
    const auto& name = id->get_ref<const std::string&>();
    if (!model || name == *model || name == *model + ":latest") return true;
  }
  return false;
}

LocalModel::LocalModel(ModelSettings settings) : settings_(std::move(settings)) {
  if (!settings_.problem) endpoint_ = parseLoopbackEndpoint(settings_.endpoint);
}

bool LocalModel::isAvailable() {
  if (!available_) available_ = checkReadiness();
  return *available_;
}

bool LocalModel::checkReadiness() const {
  if (!endpoint_) return false;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(kReadinessBudgetMs);
  // One GET in what is left of the budget; nothing once it is spent.
  auto get = [&](std::string_view path) -> std::optional<HttpResponse> {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    return httpGet(endpoint_->url(path), static_cast<long>(left), settings_.apiKey);
  };
  try {
    auto health = get("/health");
    // 503: llama-server while it loads the model, not ready whatever else it
    // lists. 401 or 403: a proxy that checks the key on every path.
    if (!health || health->status == 503 || keyRefused(*health)) return false;
    // llama-server answers /health and /v1/models without looking at its
    // key, so ask something it guards: a key that is wrong, or missing when
    // the runtime wants one, would fail every chat. A runtime without /props
    // (Ollama) answers 404, which says nothing against the key.
    auto props = get("/props");
    if (!props || keyRefused(*props)) return false;
    // Without a model name, a healthy llama-server is ready with whatever
    // model it serves; a name must be one the runtime lists.
    if (health->status == 200 && !settings_.model) return true;
    auto models = get("/v1/models");
    return models && models->status == 200 && modelsListOffers(models->body, settings_.model);
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<Language> LocalModel::supportedLanguages() {
  std::vector<Language> languages;
  for (const auto& code : settings_.languages) languages.push_back({code});
  return languages;
}

std::unique_ptr<LanguageModelSession> LocalModel::makeSession(const Transcript& transcript) {
  return std::make_unique<LocalSession>(endpoint_, settings_, messagesFromTranscript(transcript));
}

std::unique_ptr<LanguageModelSession> LocalModel::makeSession(const std::optional<std::string>& instructions) {
  return std::make_unique<LocalSession>(endpoint_, settings_, messagesFromInstructions(instructions));
}

}  // namespace orvendel::local
