#include "common/job.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace vantrel {
namespace {

TEST(JobDeathTest, ReturningNormallyExitsZero) {
  EXPECT_EXIT(runJobAndPark([] { std::cout << "[]\n"; }), testing::ExitedWithCode(0), "^$");
}

TEST(JobDeathTest, AnErrorIsOneLineOnStderrAndStatusOne) {
  EXPECT_EXIT(runJobAndPark([] { throw std::runtime_error("two\nlines"); }),
              testing::ExitedWithCode(1), "^two lines\n$");
}

TEST(JobDeathTest, OutputThatCannotBeWrittenIsAFailureNotASuccess) {
  EXPECT_EXIT(
      {
        if (!std::freopen("/dev/full", "w", stdout)) std::_Exit(3);
        runJobAndPark([] { std::cout << "[]\n"; });
      },
      testing::ExitedWithCode(1), "^Failed to write to standard output: No space left on device\n$");
}

TEST(JobDeathTest, AClosedPipeIsAFailureNotASignal) {
  EXPECT_EXIT(
      {
        int fds[2];
        if (::pipe(fds) != 0 || ::dup2(fds[1], STDOUT_FILENO) < 0) std::_Exit(3);
        ::close(fds[0]);
        runJobAndPark([] { std::cout << "[]\n"; });
      },
      testing::ExitedWithCode(1), "^Failed to write to standard output: Broken pipe\n$");
}

TEST(CommandLine, ArgumentsAreRepairedToValidUtf8) {
  char program[] = "tallowick", broken[] = "a\xFF" "b";
  char* argv[] = {program, broken};
  EXPECT_EQ(commandLineArguments(2, argv), (std::vector<std::string>{"tallowick", "a\xEF\xBF\xBD" "b"}));
}

}  // namespace
}  // namespace vantrel
