// orvendel run as the host runs it: exact stdout bytes, the stderr line and
// the exit status.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

// A loopback port nothing listens on: bound once to learn a free number, then
// released.
int unusedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot bind a loopback port");
  ::close(fd);
  return ntohs(address.sin_port);
}

class OrvendelCli : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvendel-e2e-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    fs::create_directories(dir_ / "config/vantrel");
    std::ofstream(dir_ / "config/vantrel/model.json")
        << "{\"endpoint\":\"http://127.0.0.1:" << unusedLoopbackPort() << "\"}";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& contents) {
    std::ofstream(dir_ / name, std::ios::binary) << contents;
    return (dir_ / name).string();
  }

  e2e::ProcessOptions options() {
    e2e::ProcessOptions options;
    options.env["XDG_CONFIG_HOME"] = (dir_ / "config").string();
    options.workingDirectory = dir_.string();
    return options;
  }

  e2e::ProcessResult run(const std::vector<std::string>& args) { return e2e::runProcess(ORVENDEL_BIN, args, options()); }

  void expectFailure(const std::vector<std::string>& args, const std::string& line) {
    e2e::ProcessResult result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, line + "\n");
  }

  fs::path dir_;
};

TEST_F(OrvendelCli, UsageErrorsGiveOneLineAndStatusOne) {
  expectFailure({}, "Usage: orvendel <status|chat> [request.json]");
  expectFailure({"chat"}, "Missing Apple Intelligence request file");
  expectFailure({"stream-chat"}, "Missing Apple Intelligence request file");
  expectFailure({"Status"}, "Unknown Apple Intelligence command: Status");
  expectFailure({""}, "Unknown Apple Intelligence command: ");
}

TEST_F(OrvendelCli, StatusReportsTheModelAsUnavailableWhenNoRuntimeListens) {
  e2e::ProcessResult result = run({"status", "ignored"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "{\"available\":false,\"modelName\":\"Apple Intelligence\",\"supportedLanguages\":[],"
            "\"reason\":\"Apple Intelligence is not enabled or the on-device model is not ready.\"}\n");
}

TEST_F(OrvendelCli, RequestProblemsComeBeforeTheModelsState) {
  e2e::ProcessResult missing = run({"chat", "absent.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err.rfind("Cannot read request file absent.json: ", 0), 0u) << missing.err;

  write("bad.json", R"({"userMessage":"hi"})");
  expectFailure({"stream-chat", "bad.json"}, "Invalid request file bad.json: member \"history\" is missing");

  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  expectFailure({"chat", "fifo"}, "Cannot read request file fifo: not a regular file");

  write("blank.json", R"({"userMessage":" ","history":[]})");
  expectFailure({"chat", "blank.json", "extra"},
                "Apple Intelligence is not enabled or the on-device model is not ready.");
  expectFailure({"stream-chat", "blank.json"}, "Apple Intelligence is not enabled or the on-device model is not ready.");
}

}  // namespace
