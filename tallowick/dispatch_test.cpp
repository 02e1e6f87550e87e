#include "tallowick/dispatch.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "common/error_line.h"
#include "common/request_file.h"
#include "tallowick/fake_store.h"
#include "tallowick/helper_error.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

using testing::FakePlatform;

struct Outcome {
  std::string out;
  std::string error;  // the entry's error line, empty on success
};

Outcome run(FakePlatform& platform, std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/tallowick");
  std::ostringstream out;
  Outcome outcome;
  try {
    dispatch(args, platform, out);
  } catch (...) {
    outcome.error = vantrel::describeError(std::current_exception());
  }
  outcome.out = out.str();
  return outcome;
}

Outcome run(std::vector<std::string> args) {
  FakePlatform platform;
  return run(platform, std::move(args));
}

TEST(Dispatch, MissingArgumentsAreUsageErrors) {
  FakePlatform platform;
  EXPECT_EQ(run(platform, {}).error,
            "Usage: tallowick <events|reminders|reminder-lists|add-reminder|complete-reminder|request-access> [...]");
  EXPECT_EQ(run(platform, {"events"}).error, "events requires <startISO> <endISO>");
  EXPECT_EQ(run(platform, {"events", "2024-05-01"}).error, "events requires <startISO> <endISO>");
  EXPECT_EQ(run(platform, {"add-reminder"}).error, "add-reminder requires <request.json>");
  EXPECT_EQ(run(platform, {"complete-reminder"}).error, "complete-reminder requires <request.json>");
  EXPECT_EQ(run(platform, {"request-access"}).error, "request-access requires <events|reminders>");
  // Nothing reached the store.
  EXPECT_TRUE(platform.state.calls.empty());
}

TEST(Dispatch, UnknownSubcommandsAreEchoedAsGiven) {
  EXPECT_EQ(run({"Events"}).error, "Unknown subcommand: Events");
  EXPECT_EQ(run({"reminders "}).error, "Unknown subcommand: reminders ");
  EXPECT_EQ(run({""}).error, "Unknown subcommand: ");
  EXPECT_EQ(run({"--help"}).error, "Unknown subcommand: --help");
  EXPECT_EQ(run({"a\nb"}).error, "Unknown subcommand: a b");
  try {
    FakePlatform platform;
    std::ostringstream out;
    dispatch({"tallowick", "x"}, platform, out);
    FAIL();
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::usage);
  }
}

TEST(Dispatch, EachSubcommandReachesItsOperation) {
  testing::ScopedTimeZone zone("UTC");
  FakePlatform platform;
  platform.state.addList("Home");
  EXPECT_EQ(run(platform, {"events", "2024-05-01", "2024-05-02"}).out, "[]\n");
  EXPECT_EQ(platform.state.eventQueries.back().start, testing::at(1714521600));
  EXPECT_EQ(platform.state.eventQueries.back().end, testing::at(1714521600 + 2 * 86400 - 1));
  EXPECT_EQ(run(platform, {"reminders", "extra", "ignored"}).out, "[]\n");
  EXPECT_EQ(run(platform, {"reminder-lists"}).out, "[\"Home\"]\n");
  EXPECT_EQ(run(platform, {"request-access", "reminders", "more"}).out, "{\"granted\":true}\n");
  EXPECT_EQ(run(platform, {"request-access", "Reminders"}).error, "request-access kind must be 'events' or 'reminders'");

  testing::TempFile add(R"({"title":"T","listName":"Home","priority":0})");
  EXPECT_EQ(run(platform, {"add-reminder", add.path()}).out, "{\"ok\":true}\n");
  testing::TempFile complete(R"({"title":"T","listName":"Home"})");
  EXPECT_EQ(run(platform, {"complete-reminder", complete.path(), "x"}).out, "{\"ok\":true}\n");
  EXPECT_TRUE(platform.state.reminders.at(0).isCompleted);
}

TEST(DescribeError, HelperAndStoreErrorsGiveTheirMessage) {
  auto describe = [](auto error) { return vantrel::describeError(std::make_exception_ptr(error)); };
  EXPECT_EQ(describe(HelperError::notFound("No reminder lists found")), "No reminder lists found");
  EXPECT_EQ(describe(StoreError("Cannot save: disk full")), "Cannot save: disk full");
  EXPECT_EQ(describe(vantrel::RequestFileError("Cannot read request file r.json: No such file or directory")),
            "Cannot read request file r.json: No such file or directory");
}

}  // namespace
}  // namespace tallowick
