#include "common/request_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vantrel {
namespace {

std::string messageOf(const std::string& path) {
  try {
    readRequestFile(path);
  } catch (const RequestFileError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(RequestFile, ReadsTheWholeFile) {
  auto path = std::filesystem::temp_directory_path() / ("request_" + std::to_string(::getpid()) + ".json");
  std::string content(200000, 'x');
  std::ofstream(path) << content;
  EXPECT_EQ(readRequestFile(path.string()), content);
  std::filesystem::remove(path);
}

TEST(RequestFile, MissingFileAndDirectoryNameThePath) {
  EXPECT_EQ(messageOf("/nonexistent/r.json"), "Cannot read request file /nonexistent/r.json: No such file or directory");
  EXPECT_EQ(messageOf("/tmp"), "Cannot read request file /tmp: Is a directory");
  EXPECT_EQ(messageOf(""), "Cannot read request file: the path is empty");
}

TEST(RequestFile, DevicesAndFifosAreRefusedWithoutReading) {
  EXPECT_EQ(messageOf("/dev/zero"), "Cannot read request file /dev/zero: not a regular file");
  auto fifo = std::filesystem::temp_directory_path() / ("fifo_" + std::to_string(::getpid()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(messageOf(fifo.string()), "Cannot read request file " + fifo.string() + ": not a regular file");
  std::filesystem::remove(fifo);
}

}  // namespace
}  // namespace vantrel
