#include "orvendel/stream_chat.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "common/job.h"

#include "orvendel/fake_model.h"
#include "orvendel/helper_error.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

const char* kDone = "{\"type\":\"done\",\"content\":\"\"}\n";

std::string token(const std::string& escaped) { return "{\"type\":\"token\",\"content\":\"" + escaped + "\"}\n"; }

class RunStreamChatTest : public ::testing::Test {
 protected:
  std::string run(std::vector<FakeStreamStep> steps) {
    platform.model.streamSteps = std::move(steps);
    runStreamChat(platform, out, request.path());
    return out.text();
  }

  FakeModelPlatform platform;
  TempRequest request{R"({"userMessage":" Tell me. ","history":[{"role":"assistant","content":"Hi"}]})"};
  RecordingStream out;
};

using Step = FakeStreamStep;

TEST_F(RunStreamChatTest, AStreamWithoutSnapshotsWritesOnlyDone) {
  EXPECT_EQ(run({}), kDone);
  ASSERT_EQ(platform.model.sessions.size(), 1u);
  EXPECT_EQ(platform.model.sessions[0]->prompts, (std::vector<std::string>{"Tell me."}));
  EXPECT_TRUE(platform.model.sessions[0]->fromTranscript);
}

TEST_F(RunStreamChatTest, WritesWhatEachSnapshotAddsAndSkipsEmptyDeltas) {
  EXPECT_EQ(run({Step::snapshot(""), Step::snapshot("Once"), Step::snapshot("Once"), Step::snapshot("Once upon"),
                 Step::snapshot("Once upon a time.")}),
            token("Once") + token(" upon") + token(" a time.") + kDone);
}

TEST_F(RunStreamChatTest, ASnapshotThatDoesNotExtendIsSentWholeAndBecomesTheBase) {
  EXPECT_EQ(run({Step::snapshot("Hello there"), Step::snapshot("Hello"), Step::snapshot("Hello!")}),
            token("Hello there") + token("Hello") + token("!") + kDone);
}

TEST_F(RunStreamChatTest, ACombiningMarkOnTheLastCharacterKeepsTheAnswerWhole) {
  EXPECT_EQ(run({Step::snapshot("Cafe"), Step::snapshot("Cafe\u0301"), Step::snapshot("Cafe\u0301!")}),
            token("Cafe") + token("\u0301") + token("!") + kDone);
}

TEST_F(RunStreamChatTest, AnErrorAfterTwoTokensKeepsThemAndWritesNoDone) {
  platform.model.streamSteps = {Step::snapshot("a"), Step::snapshot("ab"), Step::error("Connection reset")};
  try {
    runStreamChat(platform, out, request.path());
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), "Connection reset");
  }
  EXPECT_EQ(out.text(), token("a") + token("b"));
}

TEST_F(RunStreamChatTest, ATokenWithSlashQuoteAndLineBreakStaysOnOneLine) {
  EXPECT_EQ(run({Step::snapshot(" a/b \"c\"\n")}), token(" a\\/b \\\"c\\\"\\n") + kDone);
}

TEST_F(RunStreamChatTest, EachLineIsFlushedBeforeTheNextSnapshotIsAwaited) {
  std::vector<std::string> flushedWhenAsked;
  platform.model.beforeStreamStep = [&](size_t) {
    flushedWhenAsked.push_back(out.flushes().empty() ? "" : out.flushes().back());
  };
  run({Step::snapshot("a"), Step::snapshot("ab")});
  EXPECT_EQ(flushedWhenAsked, (std::vector<std::string>{"", token("a"), token("a") + token("b")}));
  ASSERT_FALSE(out.flushes().empty());
  EXPECT_EQ(out.flushes().back(), token("a") + token("b") + kDone);
}

TEST_F(RunStreamChatTest, ABlankPromptWritesNothing) {
  TempRequest blank(R"({"userMessage":"\n\t ","history":[]})");
  try {
    runStreamChat(platform, out, blank.path());
    FAIL() << "no error";
  } catch (const HelperError& e) {
    EXPECT_EQ(e.message(), "Apple Intelligence prompt is empty");
  }
  EXPECT_EQ(out.text(), "");
  EXPECT_TRUE(out.flushes().empty());
}

// Takes `lines` flushes, then fails like a pipe whose reader has gone.
class ClosingStream : public std::ostream {
 public:
  explicit ClosingStream(int lines) : std::ostream(&buffer_) { buffer_.left = lines; }

 private:
  struct Buffer : std::stringbuf {
    int left = 0;
    int sync() override {
      if (left-- > 0) return 0;
      errno = EPIPE;
      return -1;
    }
  };
  Buffer buffer_;
};

TEST_F(RunStreamChatTest, TheFirstLineThatCannotBeWrittenEndsTheRunWithoutReadingOn) {
  ClosingStream closing(1);
  std::vector<size_t> asked;
  platform.model.beforeStreamStep = [&](size_t index) { asked.push_back(index); };
  platform.model.streamSteps = {Step::snapshot("a"), Step::snapshot("ab"), Step::snapshot("abc")};
  try {
    runStreamChat(platform, closing, request.path());
    FAIL() << "no error";
  } catch (const vantrel::OutputWriteError& e) {
    EXPECT_STREQ(e.what(), "Failed to write to standard output: Broken pipe");
  }
  EXPECT_EQ(asked, (std::vector<size_t>{0, 1}));
}

TEST(StreamChunkWriter, DropsALineThatIsNotValidUtf8AndGoesOn) {
  RecordingStream out;
  StreamChunkWriter writer(out);
  writer.write({"token", "bad\xe2\x82"});
  writer.write({"done", ""});
  EXPECT_EQ(out.text(), kDone);
}

}  // namespace
}  // namespace orvendel
