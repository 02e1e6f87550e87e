#include <gtest/gtest.h>

#include <filesystem>

#include "tallowick/store/icalendar/test_support.h"
#include "tallowick/store/vdir/settings.h"
#include "tallowick/store/vdir_store/vdir_store.h"

namespace tallowick::ical {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class AccessRequestTest : public ::testing::Test {
 protected:
  std::string file() const { return dir.path() + "/vantrel/calendar.json"; }
  // Asks for reminder access and returns (granted, error), counting prompts
  // and completion calls.
  std::pair<bool, std::optional<std::string>> request(PromptAnswer answer, std::string settingsFile = "") {
    VdirStoreConfig config;
    config.settingsFile = settingsFile.empty() ? file() : settingsFile;
    config.defaultRoot = dir.path() + "/calendars";
    config.prompt = [this, answer](EntityType) {
      ++prompts;
      return answer;
    };
    auto store = VdirPlatform(config).openStore();
    std::pair<bool, std::optional<std::string>> result;
    int calls = 0;
    store->requestFullAccessToReminders([&](bool granted, std::optional<std::string> error) {
      ++calls;
      result = {granted, error};
    });
    EXPECT_EQ(calls, 1);
    return result;
  }
  int prompts = 0;
  TempDir dir;
};

TEST_F(AccessRequestTest, UndecidedAsksAndRecordsTheAnswer) {
  EXPECT_TRUE(request(PromptAnswer::granted).first);
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::reminder), auth_status::fullAccess);
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::event), auth_status::notDetermined);
  // Decided now: answered at once.
  EXPECT_TRUE(request(PromptAnswer::refused).first);
  EXPECT_EQ(prompts, 1);
}

TEST_F(AccessRequestTest, RefusalIsRecordedAndNobodyToAskRecordsNothing) {
  EXPECT_FALSE(request(PromptAnswer::unanswered).first);
  EXPECT_FALSE(std::filesystem::exists(file()));
  EXPECT_FALSE(request(PromptAnswer::refused).first);
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::reminder), auth_status::denied);
}

TEST_F(AccessRequestTest, DecidedStatesAnswerWithoutAsking) {
  writeFile(file(), R"({"access": {"reminders": "write-only"}})");
  EXPECT_FALSE(request(PromptAnswer::granted).first);
  writeFile(file(), "not json");
  EXPECT_FALSE(request(PromptAnswer::granted).first);
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(readFile(file()), "not json");
}

TEST_F(AccessRequestTest, AnAnswerThatCannotBeRecordedIsAFailedRequest) {
  // A file where the settings directory should be: nothing can be created.
  writeFile(dir.path() + "/blocked", "");
  const std::string unreachable = dir.path() + "/blocked/vantrel/calendar.json";
  try {
    request(PromptAnswer::granted, unreachable);
    FAIL() << "an answer that cannot be kept must not pass for a refusal";
  } catch (const StoreError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create " + dir.path() + "/blocked/vantrel: Not a directory");
  }
}

}  // namespace
}  // namespace tallowick::ical
