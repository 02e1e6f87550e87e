#include "common/one_shot.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel {
namespace {

TEST(OneShot, DeliversAValueFromAnotherThread) {
  OneShot<int> bridge("fetch");
  std::thread platform([handler = bridge.handler()] { handler(7); });
  EXPECT_EQ(bridge.wait(), 7);
  platform.join();
}

TEST(OneShot, DroppedHandlerIsReportedNotAHang) {
  OneShot<int> bridge("runReminders()");
  { auto handler = bridge.handler(); }
  try {
    bridge.wait();
    FAIL() << "expected misuse";
  } catch (const OneShotMisuse& e) {
    EXPECT_STREQ(e.what(), "runReminders(): completion handler was dropped without being called");
  }
}

TEST(OneShot, SecondResumeIsReported) {
  OneShot<int> bridge("fetch");
  auto handler = bridge.handler();
  handler(1);
  EXPECT_THROW(handler(2), OneShotMisuse);
  EXPECT_EQ(bridge.wait(), 1);
}

}  // namespace
}  // namespace vantrel
