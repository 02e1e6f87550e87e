#include "orvendel/chat.h"

#include <gtest/gtest.h>

#include "common/request_file.h"
#include "orvendel/fake_model.h"
#include "orvendel/helper_error.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

void expectHelperError(const std::function<void()>& run, HelperError::Case kind, const std::string& message) {
  try {
    run();
    FAIL() << "no error";
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), kind);
    EXPECT_EQ(e.message(), message);
  }
}

TEST(RunChat, AMissingFileWinsOverAnUnavailableModel) {
  FakeModelPlatform platform;
  platform.model.available = false;
  RecordingStream out;
  EXPECT_THROW(runChat(platform, out, "/nonexistent/request.json"), vantrel::RequestFileError);
  EXPECT_TRUE(platform.model.calls.empty());
}

TEST(RunChat, AnUnavailableModelWinsOverABlankPrompt) {
  FakeModelPlatform platform;
  platform.model.available = false;
  TempRequest file(R"({"userMessage":" \n","history":[]})");
  RecordingStream out;
  expectHelperError([&] { runChat(platform, out, file.path()); }, HelperError::Case::unavailable,
                    "Apple Intelligence is not enabled or the on-device model is not ready.");
  EXPECT_TRUE(platform.model.sessions.empty());
  EXPECT_EQ(out.text(), "");
}

TEST(RunChat, ABlankPromptIsRejectedBeforeAnySession) {
  FakeModelPlatform platform;
  TempRequest file(R"({"userMessage":" \t\r\n\u2028","history":[{"role":"user","content":"x"}]})");
  RecordingStream out;
  expectHelperError([&] { runChat(platform, out, file.path()); }, HelperError::Case::malformed,
                    "Apple Intelligence prompt is empty");
  EXPECT_TRUE(platform.model.sessions.empty());
  EXPECT_EQ(out.text(), "");
}

TEST(RunChat, AsksWithTheTrimmedPromptAndPrintsTheAnswerUnchanged) {
  FakeModelPlatform platform;
  platform.model.answer = "\n Use a/b \"now\".\n";
  TempRequest file(R"({"userMessage":"\n  What now?  \n","history":[]})");
  RecordingStream out;
  runChat(platform, out, file.path());
  EXPECT_EQ(out.text(), "{\"content\":\"\\n Use a\\/b \\\"now\\\".\\n\"}\n");
  ASSERT_EQ(platform.model.sessions.size(), 1u);
  const FakeSessionRecord& session = *platform.model.sessions[0];
  EXPECT_FALSE(session.fromTranscript);
  EXPECT_EQ(session.instructions, std::nullopt);
  EXPECT_EQ(session.prompts, (std::vector<std::string>{"What now?"}));
  EXPECT_EQ(platform.model.calls,
            (std::vector<std::string>{"isAvailable", "makeSession(instructions)", "respond"}));
}

TEST(RunChat, AModelFailurePassesThroughUnchanged) {
  FakeModelPlatform platform{};  // zeroed first: GCC 12 at -O3 saw its optional text as uninitialized
  platform.model.answerFailure = "The runtime refused: context too long";
  TempRequest file(R"({"systemPrompt":"s","userMessage":"q","history":[]})");
  RecordingStream out;
  try {
    runChat(platform, out, file.path());
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), "The runtime refused: context too long");
  }
  EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace orvendel
