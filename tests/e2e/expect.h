#pragma once
// What the tests expect of every run.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/process.h"

namespace e2e {

// The one way a run fails: nothing on stdout, `line` and a line feed on
// stderr, status 1.
inline void expectFailure(const ProcessResult& r, const std::string& line) {
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, line + "\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace e2e
