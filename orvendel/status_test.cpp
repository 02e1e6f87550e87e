#include "orvendel/status.h"

#include <gtest/gtest.h>

#include "orvendel/fake_model.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

TEST(RunStatus, AvailableModelListsItsCodesWithoutReason) {
  FakeModelPlatform platform;
  platform.model.languages = {{"en"}, {"de"}};
  RecordingStream out;
  runStatus(platform, out);
  EXPECT_EQ(out.text(),
            "{\"available\":true,\"modelName\":\"Apple Intelligence\",\"supportedLanguages\":[\"en\",\"de\"]}\n");
}

TEST(RunStatus, UnavailableModelIsReportedAsDataWithTheReason) {
  FakeModelPlatform platform;
  platform.model.available = false;
  RecordingStream out;
  runStatus(platform, out);
  EXPECT_EQ(out.text(),
            "{\"available\":false,\"modelName\":\"Apple Intelligence\",\"supportedLanguages\":[],"
            "\"reason\":\"Apple Intelligence is not enabled or the on-device model is not ready.\"}\n");
}

TEST(RunStatus, KeepsTheModelsOrderAndDuplicatesAndSkipsLanguagesWithoutCode) {
  FakeModelPlatform platform;
  platform.model.languages = {{"pt"}, {std::nullopt}, {"en"}, {"pt"}, {"de"}};
  EXPECT_EQ(makeStatusResponse(platform.model).supportedLanguages,
            (std::vector<std::string>{"pt", "en", "pt", "de"}));
}

}  // namespace
}  // namespace orvendel
