#include "tallowick/store/vdir/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class SettingsTest : public ::testing::Test {
 protected:
  std::string file() const { return dir.path() + "/vantrel/calendar.json"; }
  int state(const std::string& json, EntityType type = EntityType::event) {
    writeFile(file(), json);
    return readAccessState(defaultEnv(), file(), type);
  }
  TempDir dir;
};

TEST_F(SettingsTest, AccessStateWords) {
  EXPECT_EQ(state(R"({"access": {"events": "not-determined"}})"), auth_status::notDetermined);
  EXPECT_EQ(state(R"({"access": {"events": "restricted"}})"), auth_status::restricted);
  EXPECT_EQ(state(R"({"access": {"events": "denied"}})"), auth_status::denied);
  EXPECT_EQ(state(R"({"access": {"events": "full-access"}})"), auth_status::fullAccess);
  EXPECT_EQ(state(R"({"access": {"events": "write-only"}})"), auth_status::writeOnly);
  EXPECT_EQ(state(R"({"access": {"events": "full-access", "reminders": "denied"}})", EntityType::reminder),
            auth_status::denied);
}

TEST_F(SettingsTest, MissingMeansNotDeterminedAndAnythingDoubtfulIsUnknown) {
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::event), auth_status::notDetermined);
  EXPECT_EQ(state(R"({"store": "/x"})"), auth_status::notDetermined);
  EXPECT_EQ(state(R"({"access": {"reminders": "denied"}})"), auth_status::notDetermined);
  EXPECT_EQ(state(R"({"access": {"events": "Full-Access"}})"), unknownAccessState);
  EXPECT_EQ(state(R"({"access": {"events": 3}})"), unknownAccessState);
  EXPECT_EQ(state(R"({"access": "full-access"})"), unknownAccessState);
  EXPECT_EQ(state(R"({"access": {"events": "full-access"})"), unknownAccessState);
  EXPECT_EQ(state("[]"), unknownAccessState);
  std::filesystem::remove(file());
  std::filesystem::create_directories(file());  // a directory where the file should be
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::event), unknownAccessState);
}

TEST_F(SettingsTest, RecordingKeepsTheOtherMembers) {
  writeFile(file(), R"({"store": "/data/cals", "access": {"reminders": "denied"}, "extra": [1, 2]})");
  recordAccessState(defaultEnv(), file(), EntityType::event, true);
  auto json = nlohmann::json::parse(readFile(file()));
  EXPECT_EQ(json["store"], "/data/cals");
  EXPECT_EQ(json["extra"], nlohmann::json::parse("[1, 2]"));
  EXPECT_EQ(json["access"]["reminders"], "denied");
  EXPECT_EQ(json["access"]["events"], "full-access");
}

TEST_F(SettingsTest, RecordingWritesThroughALinkAndKeepsTheMode) {
  // Dotfile managers keep the real file elsewhere and link it in.
  const std::string real = dir.path() + "/dotfiles/calendar.json";
  writeFile(real, R"({"store": "/x"})");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  std::filesystem::create_directories(dir.path() + "/vantrel");
  std::filesystem::create_symlink(real, file());
  recordAccessState(defaultEnv(), file(), EntityType::reminder, true, dir.path() + "/write.lock");
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(nlohmann::json::parse(readFile(real)),
            nlohmann::json::parse(R"({"store": "/x", "access": {"reminders": "full-access"}})"));
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // A link to a file not there yet: the file is made where it leads.
  std::filesystem::remove(real);
  recordAccessState(defaultEnv(), file(), EntityType::event, false);
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(nlohmann::json::parse(readFile(real)), nlohmann::json::parse(R"({"access": {"events": "denied"}})"));
}

TEST_F(SettingsTest, RecordingCreatesTheFileButNeverOverwritesAnUnreadableOne) {
  recordAccessState(defaultEnv(), file(), EntityType::reminder, false);
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::reminder), auth_status::denied);
  writeFile(file(), "{broken");
  EXPECT_THROW(recordAccessState(defaultEnv(), file(), EntityType::reminder, true), StoreError);
  EXPECT_EQ(readFile(file()), "{broken");
  // Nested a million levels deep: as malformed as a broken file, never a crash.
  const std::string deep = R"({"store": "/x", "access": {"reminders": "denied"}, "x": )" + std::string(1'000'000, '[') +
                           std::string(1'000'000, ']') + "}";
  writeFile(file(), deep);
  EXPECT_EQ(readAccessState(defaultEnv(), file(), EntityType::reminder), unknownAccessState);
  EXPECT_FALSE(readSettings(defaultEnv(), file()).store);
  EXPECT_THROW(recordAccessState(defaultEnv(), file(), EntityType::reminder, true), StoreError);
  EXPECT_EQ(readFile(file()), deep);
}

}  // namespace
}  // namespace tallowick::ical
