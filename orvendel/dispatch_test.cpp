#include "orvendel/dispatch.h"

#include <gtest/gtest.h>

#include "common/request_file.h"
#include "orvendel/fake_model.h"
#include "orvendel/helper_error.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

using Case = HelperError::Case;

class DispatchTest : public ::testing::Test {
 protected:
  // The error's case and message, or "ok".
  std::pair<std::optional<Case>, std::string> run(const std::vector<std::string>& args) {
    try {
      dispatch(args, platform, out);
    } catch (const HelperError& e) {
      return {e.kind(), e.message()};
    }
    return {std::nullopt, "ok"};
  }

  FakeModelPlatform platform;
  RecordingStream out;
};

TEST_F(DispatchTest, NoArgumentIsAUsageErrorEvenOnAnOldSystem) {
  platform.recentEnough = false;
  EXPECT_EQ(run({}), std::make_pair(std::optional(Case::usage), std::string("Usage: orvendel <status|chat> [request.json]")));
  EXPECT_TRUE(platform.versionQueries.empty());
}

TEST_F(DispatchTest, AnOldSystemRefusesEverySubcommand) {
  platform.recentEnough = false;
  auto refused = std::make_pair(std::optional(Case::unsupportedPlatform),
                                std::string("Apple Intelligence requires macOS 26 or newer."));
  EXPECT_EQ(run({"status"}), refused);
  EXPECT_EQ(run({"chat", "/nonexistent"}), refused);
  EXPECT_EQ(run({"chat"}), refused);
  EXPECT_EQ(run({"foo"}), refused);
  EXPECT_EQ(platform.versionQueries.back(), std::make_tuple(26, 0, 0));
  EXPECT_TRUE(platform.model.calls.empty());
  EXPECT_EQ(out.text(), "");
}

TEST_F(DispatchTest, UnknownSubcommandsAreNamedAsGiven) {
  auto unknown = [](std::string word) {
    return std::make_pair(std::optional(Case::usage), "Unknown Apple Intelligence command: " + word);
  };
  EXPECT_EQ(run({"foo"}), unknown("foo"));
  EXPECT_EQ(run({"Status"}), unknown("Status"));
  EXPECT_EQ(run({"chat "}), unknown("chat "));
  EXPECT_EQ(run({""}), unknown(""));
}

TEST_F(DispatchTest, ChatSubcommandsNeedARequestFile) {
  auto missing = std::make_pair(std::optional(Case::usage), std::string("Missing Apple Intelligence request file"));
  EXPECT_EQ(run({"chat"}), missing);
  EXPECT_EQ(run({"stream-chat"}), missing);
  // An empty path is still a path: the file layer refuses it.
  EXPECT_THROW(dispatch({"chat", ""}, platform, out), vantrel::RequestFileError);
  EXPECT_THROW(dispatch({"stream-chat", ""}, platform, out), vantrel::RequestFileError);
}

TEST_F(DispatchTest, RunsEachSubcommandAndIgnoresFurtherArguments) {
  TempRequest file(R"({"userMessage":"q","history":[]})");
  platform.model.answer = "A";
  platform.model.streamSteps = {FakeStreamStep::snapshot("S")};
  EXPECT_EQ(run({"status", "extra", "words"}).second, "ok");
  EXPECT_EQ(run({"chat", file.path(), "extra"}).second, "ok");
  EXPECT_EQ(run({"stream-chat", file.path(), "extra"}).second, "ok");
  EXPECT_EQ(out.text(),
            "{\"available\":true,\"modelName\":\"Apple Intelligence\",\"supportedLanguages\":[]}\n"
            "{\"content\":\"A\"}\n"
            "{\"type\":\"token\",\"content\":\"S\"}\n{\"type\":\"done\",\"content\":\"\"}\n");
}

}  // namespace
}  // namespace orvendel
