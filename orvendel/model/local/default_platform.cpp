// The Linux model platform: the local model runtime named by the settings
// file, or llama-server's default endpoint.
#include <cstdlib>

#include "orvendel/model/language_model.h"
#include "orvendel/model/local/local_model.h"
#include "orvendel/model/local/model_settings.h"

namespace orvendel {
namespace {

class LocalModelPlatform : public ModelPlatform {
 public:
  explicit LocalModelPlatform(local::ModelSettings settings) : model_(std::move(settings)) {}

  LanguageModel& defaultModel() override { return model_; }
  // The local model is offered on every Linux system.
  bool isOperatingSystemAtLeast(int, int, int) override { return true; }

 private:
  local::LocalModel model_;
};

}  // namespace

std::unique_ptr<ModelPlatform> makeDefaultModelPlatform() {
  auto path = local::modelSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  return std::make_unique<LocalModelPlatform>(local::loadModelSettings(path, std::getenv("HOME")));
}

}  // namespace orvendel
