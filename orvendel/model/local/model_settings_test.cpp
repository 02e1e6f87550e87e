#include "orvendel/model/local/model_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace orvendel::local {
namespace {

TEST(ModelSettings, ReadsEveryMember) {
  auto settings = parseModelSettings(
      R"({"endpoint":"http://127.0.0.1:11434","model":"llama3.2","languages":["en","de"],"other":1})");
  EXPECT_FALSE(settings.problem);
  EXPECT_EQ(settings.endpoint, "http://127.0.0.1:11434");
  EXPECT_EQ(settings.model, "llama3.2");
  EXPECT_EQ(settings.languages, (std::vector<std::string>{"en", "de"}));
}

TEST(ModelSettings, MissingOrNullMembersMeanTheDefaults) {
  for (const char* text : {"{}", R"({"endpoint":null,"model":null,"languages":null})", R"({"model":""})"}) {
    auto settings = parseModelSettings(text);
    EXPECT_FALSE(settings.problem) << text;
    EXPECT_EQ(settings.endpoint, kDefaultEndpoint);
    EXPECT_FALSE(settings.model);
    EXPECT_TRUE(settings.languages.empty());
  }
}

TEST(ModelSettings, AMalformedFileIsAProblemNotTheDefaults) {
  for (const char* text : {"", "{", "[]", R"({"endpoint":8080})", R"({"languages":"en"})", R"({"languages":[1]})"}) {
    auto settings = parseModelSettings(text);
    EXPECT_TRUE(settings.problem) << text;
    EXPECT_TRUE(settings.languages.empty()) << text;
  }
}

TEST(ModelSettings, PathFollowsXdgConfigHome) {
  EXPECT_EQ(modelSettingsPath("/cfg", "/home/u"), "/cfg/vantrel/model.json");
  EXPECT_EQ(modelSettingsPath("relative", "/home/u"), "/home/u/.config/vantrel/model.json");
  EXPECT_EQ(modelSettingsPath(nullptr, "/home/u"), "/home/u/.config/vantrel/model.json");
  EXPECT_FALSE(modelSettingsPath("", nullptr));
}

TEST(ModelSettings, LoadsTheFileAndToleratesItsAbsence) {
  auto dir = std::filesystem::temp_directory_path() / ("model-settings-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sub");
  std::ofstream(dir / "model.json") << R"({"model":"qwen"})";
  EXPECT_EQ(loadModelSettings((dir / "model.json").string()).model, "qwen");
  EXPECT_FALSE(loadModelSettings((dir / "absent.json").string()).problem);
  EXPECT_FALSE(loadModelSettings(std::nullopt).problem);
  EXPECT_EQ(loadModelSettings((dir / "sub").string()).problem,
            "Cannot read model settings " + (dir / "sub").string() + ": Is a directory");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvendel::local
