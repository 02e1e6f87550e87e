#include <gtest/gtest.h>

#include "tests/e2e/process.h"

namespace {

TEST(Smoke, BothBinariesRunAndExit) {
  EXPECT_NE(e2e::runProcess(TALLOWICK_BIN, {}).status, 127);
  EXPECT_NE(e2e::runProcess(ORVENDEL_BIN, {}).status, 127);
}

}  // namespace
