#include "orvendel/model/local/model_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

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

class ModelSettingsKey : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("model-key-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "home" / "keys");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::filesystem::path& path, const std::string& text,
                    std::filesystem::perms mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) {
    std::ofstream(path, std::ios::binary) << text;
    std::filesystem::permissions(path, mode);
    return path.string();
  }
  ModelSettings load(const std::string& settings, std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                                                               std::filesystem::perms::owner_write) {
    return loadModelSettings(write(dir_ / "model.json", settings, mode), (dir_ / "home").string().c_str());
  }

  std::filesystem::path dir_;
};

TEST_F(ModelSettingsKey, FromAPrivateKeyFileByAbsoluteRelativeOrHomePath) {
  write(dir_ / "home" / "keys" / "llama", "s3cret-key\n");
  for (std::string path : {(dir_ / "home" / "keys" / "llama").string(), std::string("home/keys/llama"),
                           std::string("~/keys/llama")}) {
    // Only the key file needs to be private.
    auto settings = load(nlohmann::json{{"apiKeyFile", path}}.dump(), std::filesystem::perms::owner_read |
                                                                           std::filesystem::perms::owner_write |
                                                                           std::filesystem::perms::group_read |
                                                                           std::filesystem::perms::others_read);
    EXPECT_FALSE(settings.problem) << path << ": " << settings.problem.value_or("");
    EXPECT_EQ(settings.apiKey, "s3cret-key") << path;
  }
}

TEST_F(ModelSettingsKey, InlineOnlyInPrivateSettings) {
  EXPECT_EQ(load(R"({"apiKey":" s3cret-key "})").apiKey, "s3cret-key");
  EXPECT_FALSE(load(R"({"apiKey":""})").apiKey);
  auto open = load(R"({"apiKey":"s3cret-key"})", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                                     std::filesystem::perms::group_read);
  EXPECT_FALSE(open.apiKey);
  std::string path = (dir_ / "model.json").string();
  EXPECT_EQ(open.problem, "Model settings " + path + " hold an apiKey but may be read by other users (mode 0640); "
                          "make them private: chmod 600 " + path);
}

TEST_F(ModelSettingsKey, UnusableKeysMakeAProblemThatNeverQuotesThem) {
  using P = std::filesystem::perms;
  std::string key = (dir_ / "key").string();
  struct Case {
    std::function<void()> prepare;
    std::string settings;
    std::string problem;
  };
  std::vector<Case> cases = {
      {[&] { write(key, "s3cret-key", P::owner_read | P::others_read); }, "",
       "Model API key file " + key + " may be read by other users (mode 0404); make it private: chmod 600 " + key},
      {[&] { write(key, "s3cret\r\nX-Injected: 1", P::owner_read); }, "",
       "Model API key file " + key + " holds no usable key (it is empty or has a control character inside the key)"},
      {[&] { write(key, " \n", P::owner_read); }, "",
       "Model API key file " + key + " holds no usable key (it is empty or has a control character inside the key)"},
      {[&] { std::filesystem::remove(key); }, "", "Model API key file " + key + " cannot be read: No such file or directory"},
      {[&] { std::filesystem::create_directory(key); }, "", "Model API key file " + key + " is not a regular file"},
      {[] {}, R"({"apiKey":"s3cret-key","apiKeyFile":"key"})", "Model settings give both apiKey and apiKeyFile; keep one"},
      {[] {}, R"({"apiKey":"s3cret\nkey"})", "Model settings hold an apiKey that is blank or has a control character inside"},
      {[] {}, R"({"apiKey":7})",
       "Model settings are not a JSON object with string members endpoint, model, apiKey and apiKeyFile and a string "
       "array languages"},
  };
  for (auto& c : cases) {
    std::filesystem::remove_all(key);
    c.prepare();
    auto settings = load(c.settings.empty() ? nlohmann::json{{"apiKeyFile", key}}.dump() : c.settings);
    ASSERT_TRUE(settings.problem) << c.problem;
    EXPECT_EQ(settings.problem->rfind(c.problem, 0), 0u) << *settings.problem;
    EXPECT_EQ(settings.problem->find("s3cret"), std::string::npos) << *settings.problem;
    EXPECT_FALSE(settings.apiKey);
  }
  // A FIFO is refused without waiting for a writer.
  std::filesystem::remove_all(key);
  ASSERT_EQ(::mkfifo(key.c_str(), 0600), 0);
  EXPECT_EQ(load(nlohmann::json{{"apiKeyFile", key}}.dump()).problem, "Model API key file " + key + " is not a regular file");
}

}  // namespace
}  // namespace orvendel::local
