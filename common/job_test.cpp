#include "common/job.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace vantrel {
namespace {

TEST(JobDeathTest, ReturningNormallyExitsZero) {
  EXPECT_EXIT(runJobAndPark([] { std::cout << "[]\n"; }, describeForeignError), testing::ExitedWithCode(0), "^$");
}

TEST(JobDeathTest, AnErrorIsOneLineOnStderrAndStatusOne) {
  EXPECT_EXIT(runJobAndPark([] { throw std::runtime_error("two\nlines"); }, describeForeignError),
              testing::ExitedWithCode(1), "^two lines\n$");
}

TEST(JobDeathTest, OutputThatCannotBeWrittenIsAFailureNotASuccess) {
  EXPECT_EXIT(
      {
        if (!std::freopen("/dev/full", "w", stdout)) std::_Exit(3);
        runJobAndPark([] { std::cout << "[]\n"; }, describeForeignError);
      },
      testing::ExitedWithCode(1), "^Failed to write to standard output: No space left on device\n$");
}

}  // namespace
}  // namespace vantrel
