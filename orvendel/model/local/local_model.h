#pragma once
// The Linux model: a local runtime (llama.cpp's llama-server or Ollama) that
// serves the OpenAI-compatible chat completions API on loopback.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvendel/model/language_model.h"
#include "orvendel/model/local/endpoint.h"
#include "orvendel/model/local/model_settings.h"

namespace orvendel::local {

inline constexpr long kReadinessBudgetMs = 1000;

// The model names ("id"s) a /v1/models body lists, in its order; nothing when
// the body is not such a list.
std::optional<std::vector<std::string>> listedModels(std::string_view body);

// Whether a /v1/models body lists `model` (Ollama also answers to a name
// without its ":latest" tag); with no model configured, whether it lists any.
bool modelsListOffers(std::string_view body, const std::optional<std::string>& model);

class LocalModel : public LanguageModel {
 public:
  explicit LocalModel(ModelSettings settings);

  // One readiness check per model object, within kReadinessBudgetMs in all:
  // llama-server's /health (200 ready, 503 still loading); /props must not
  // refuse the API key or its absence (401, 403); then, when a model is configured or
  // there is no /health (Ollama), /v1/models must list it (or any model when
  // none is configured). False without any contact when the settings are
  // unusable or the endpoint is off loopback.
  bool isAvailable() override;
  // The settings as read, the endpoint, each request of the readiness check
  // and its answer (with /v1/models asked even where the answer does not
  // need it, to show what the runtime serves), and the first reason for
  // unavailability. Runs the check unless isAvailable() already did.
  ModelDiagnosis diagnose() override;
  std::vector<Language> supportedLanguages() override;
  // Sessions answer each prompt with the context they were made with.
  std::unique_ptr<LanguageModelSession> makeSession(const Transcript& transcript) override;
  std::unique_ptr<LanguageModelSession> makeSession(const std::optional<std::string>& instructions) override;

 private:
  struct Readiness {
    bool available = false;
    std::vector<ModelDiagnosis::Fact> steps;  // "GET <path>" and its answer
    std::optional<std::string> problem;
  };
  Readiness checkReadiness(bool listModels) const;

  ModelSettings settings_;
  std::optional<Endpoint> endpoint_;
  std::optional<Readiness> readiness_;
};

}  // namespace orvendel::local
