#include "orvendel/model/local/local_model.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "common/json_document.h"
#include "orvendel/model/local/chat_messages.h"
#include "orvendel/model/local/chat_stream_decoder.h"
#include "orvendel/model/local/http.h"
#include "orvendel/model/local/responses.h"
#include "text/utf8.h"

namespace orvendel::local {
namespace {

constexpr std::string_view kChatPath = "/v1/chat/completions";

constexpr size_t kMaxModelsShown = 20;

// `text` without the API key in it: a server may quote the header it
// refused, and the text goes to the host's log or a person's terminal.
std::string hideKey(std::string text, const std::optional<std::string>& apiKey) {
  constexpr std::string_view kHidden = "<API key>";
  if (apiKey) {
    for (size_t at = text.find(*apiKey); at != std::string::npos; at = text.find(*apiKey, at + kHidden.size()))
      text.replace(at, apiKey->size(), kHidden);
  }
  return text;
}

ModelError withoutKey(const std::exception& e, const std::optional<std::string>& apiKey) {
  return ModelError(hideKey(e.what(), apiKey));
}

bool keyRefused(const HttpResponse& response) { return response.status == 401 || response.status == 403; }

std::string offLoopback(const std::string& endpoint) {
  return "Local model endpoint is not on this machine (loopback only): " + oneLineMessage(endpoint);
}

// A readiness answer for a person: the status, the server's message when it
// sent one with an error, the names a model list holds.
std::string describeAnswer(std::string_view path, const HttpResponse& response) {
  std::string text = std::to_string(response.status);
  if (response.status != 200) {
    auto body = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(response.body));
    std::string message = serverMessageOf(body);
    return message.empty() ? text : text + ": " + message;
  }
  if (path != "/v1/models") return text;
  auto names = listedModels(response.body);
  if (!names) return text + ": not a model list";
  if (names->empty()) return text + ": lists no model";
  text += ": lists ";
  for (size_t i = 0; i < names->size() && i < kMaxModelsShown; ++i)
    text += (i > 0 ? ", " : "") + oneLineMessage((*names)[i]);
  if (names->size() > kMaxModelsShown) text += " and " + std::to_string(names->size() - kMaxModelsShown) + " more";
  return text;
}

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
    if (!endpoint_) throw ModelError(offLoopback(settings_.endpoint));
    return endpoint_->url(kChatPath);
  }

  std::optional<Endpoint> endpoint_;
  ModelSettings settings_;
  std::vector<ChatMessage> context_;
};

}  // namespace

std::optional<std::vector<std::string>> listedModels(std::string_view body) {
  nlohmann::json document = vantrel::parseJsonDocumentOrDiscarded(vantrel::text::repairUtf8(body));
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  auto data = document.find("data");
  if (data == document.end() || !data->is_array()) return std::nullopt;
  std::vector<std::string> names;
  for (auto& entry : *data) {
    if (!entry.is_object()) continue;
    auto id = entry.find("id");
    if (id != entry.end() && id->is_string()) names.push_back(std::move(id->get_ref<std::string&>()));
  }
  return names;
}

bool modelsListOffers(std::string_view body, const std::optional<std::string>& model) {
  auto names = listedModels(body);
  if (!names) return false;
  for (const auto& name : *names)
    if (!model || name == *model || name == *model + ":latest") return true;
  return false;
}

LocalModel::LocalModel(ModelSettings settings) : settings_(std::move(settings)) {
  if (!settings_.problem) endpoint_ = parseLoopbackEndpoint(settings_.endpoint);
}

bool LocalModel::isAvailable() {
  if (!readiness_) readiness_ = checkReadiness(false);
  return readiness_->available;
}

LocalModel::Readiness LocalModel::checkReadiness(bool listModels) const {
  Readiness readiness;
  auto unavailable = [&](std::string why) {
    readiness.problem = std::move(why);
    return readiness;
  };
  if (settings_.problem) return unavailable(*settings_.problem);
  if (!endpoint_) return unavailable(offLoopback(settings_.endpoint));
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(kReadinessBudgetMs);
  // One GET in what is left of the budget, noted with its answer; nothing
  // once the budget is spent. Nothing means the check has failed.
  auto get = [&](std::string_view path) -> std::optional<HttpResponse> {
    std::string step = "GET " + std::string(path);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      readiness.steps.push_back({step, "not asked: the check's 1 s are spent"});
      readiness.problem = "the runtime at " + endpoint_->text() + " did not answer within 1 s";
      return std::nullopt;
    }
    try {
      HttpResponse response = httpGet(endpoint_->url(path), static_cast<long>(left), settings_.apiKey);
      readiness.steps.push_back({step, describeAnswer(path, response)});
      return response;
    } catch (const HttpFailure& e) {
      readiness.steps.push_back({step, e.what()});
      readiness.problem = "no answer from a model runtime at " + endpoint_->text() + " (" + step + " failed)";
      return std::nullopt;
    }
  };
  auto refusedKey = [&](std::string_view path, long status) {
    std::string why = settings_.apiKey ? "the runtime refuses the API key"
                                       : "the runtime wants an API key and none is configured";
    return unavailable(why + " (GET " + std::string(path) + " answered " + std::to_string(status) + ")");
  };
  try {
    auto health = get("/health");
    if (!health) return readiness;
    // 503: llama-server while it loads the model, not ready whatever else it
    // lists. 401 or 403: a proxy that checks the key on every path.
    if (health->status == 503) return unavailable("the runtime is still loading its model (GET /health answered 503)");
    if (keyRefused(*health)) return refusedKey("/health", health->status);
    // llama-server answers /health and /v1/models without looking at its
    // key, so ask something it guards: a key that is wrong, or missing when
    // the runtime wants one, would fail every chat. A runtime without /props
    // (Ollama) answers 404, which says nothing against the key.
    auto props = get("/props");
    if (!props) return readiness;
    if (keyRefused(*props)) return refusedKey("/props", props->status);
    // Without a model name, a healthy llama-server is ready with whatever
    // model it serves; a name must be one the runtime lists.
    if (health->status == 200 && !settings_.model) {
      // Only to show a person what it serves.
      if (listModels) get("/v1/models");
      readiness.problem.reset();
      readiness.available = true;
      return readiness;
    }
    auto models = get("/v1/models");
    if (!models) return readiness;
    if (models->status != 200) return unavailable("GET /v1/models answered " + std::to_string(models->status));
    if (!modelsListOffers(models->body, settings_.model))
      return unavailable(settings_.model ? "the runtime does not list the model \"" + *settings_.model + "\""
                                         : std::string("the runtime lists no model"));
    readiness.available = true;
    return readiness;
  } catch (const std::exception& e) {
    return unavailable(e.what());
  }
}

ModelDiagnosis LocalModel::diagnose() {
  if (!readiness_) readiness_ = checkReadiness(true);
  ModelDiagnosis diagnosis;
  auto fact = [&](std::string name, std::string value) {
    diagnosis.facts.push_back({std::move(name), hideKey(std::move(value), settings_.apiKey)});
  };
  fact("settings", settings_.origin);
  // A problem with the key leaves the rest of the settings as read.
  bool parsed = !settings_.problem || settings_.apiKeyOrigin;
  if (settings_.problem) fact("settings error", *settings_.problem);
  if (!parsed) {
    fact("endpoint", "none contacted: the settings cannot be used");
  } else {
    auto endpoint = parseLoopbackEndpoint(settings_.endpoint);
    std::string text = endpoint ? endpoint->text() : settings_.endpoint + " (not on loopback: never contacted)";
    fact("endpoint", settings_.problem && endpoint ? text + " (not contacted: the settings cannot be used)" : text);
    fact("model", settings_.model.value_or("none configured: whatever the runtime serves"));
    fact("api key", settings_.apiKeyOrigin.value_or("none"));
  }
  for (const auto& step : readiness_->steps) fact(step.name, step.value);
  if (readiness_->problem) diagnosis.problem = hideKey(*readiness_->problem, settings_.apiKey);
  return diagnosis;
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
