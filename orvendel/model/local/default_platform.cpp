// Stand-in until the local model runtime client lands: a model that is never
// available.
#include "orvendel/model/language_model.h"

namespace orvendel {
namespace {

class NoSession : public LanguageModelSession {
 public:
  std::string respond(const std::string&, const GenerationOptions&) override {
    throw ModelError("The on-device model is not available");
  }
  std::unique_ptr<ResponseStream> streamResponse(const std::string&, const GenerationOptions&) override {
    struct Failing : ResponseStream {
      std::optional<std::string> next() override { throw ModelError("The on-device model is not available"); }
    };
    return std::make_unique<Failing>();
  }
};

class NoModel : public LanguageModel {
 public:
  bool isAvailable() override { return false; }
  std::vector<Language> supportedLanguages() override { return {}; }
  std::unique_ptr<LanguageModelSession> makeSession(const Transcript&) override { return std::make_unique<NoSession>(); }
  std::unique_ptr<LanguageModelSession> makeSession(const std::optional<std::string>&) override {
    return std::make_unique<NoSession>();
  }
};

class NoModelPlatform : public ModelPlatform {
 public:
  LanguageModel& defaultModel() override { return model_; }
  bool isOperatingSystemAtLeast(int, int, int) override { return true; }

 private:
  NoModel model_;
};

}  // namespace

std::unique_ptr<ModelPlatform> makeDefaultModelPlatform() { return std::make_unique<NoModelPlatform>(); }

}  // namespace orvendel
