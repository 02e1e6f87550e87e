// cmake --install as the README gives it: both programs and a manual page
// each under the prefix, the programs runnable from there and the pages
// rendering without a warning; tallowick's EDS module where the installed
// program finds it.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

TEST(Install, PutsBothProgramsAndTheirManualPagesUnderThePrefix) {
  std::string pattern = (fs::temp_directory_path() / "vantrel-install-XXXXXX").string();
  fs::path prefix = ::mkdtemp(pattern.data());
  auto install = e2e::runProcess(CMAKE_BIN, {"--install", BUILD_DIR, "--prefix", prefix.string()});
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  auto tallowick = e2e::runProcess((prefix / "bin/tallowick").string(), {});
  EXPECT_EQ(tallowick.err,
            "Usage: tallowick <events|reminders|reminder-lists|add-reminder|complete-reminder|request-access> [...]\n");
  auto orvendel = e2e::runProcess((prefix / "bin/orvendel").string(), {});
  EXPECT_EQ(orvendel.err, "Usage: orvendel <status|chat> [request.json]\n");

  ASSERT_EQ(::access("/usr/bin/groff", X_OK), 0) << "groff is missing: run scripts/setup";
  const std::map<std::string, std::vector<std::string>> pages = {
      {"tallowick.1", {"events", "reminders", "reminder-lists", "add-reminder", "complete-reminder", "request-access"}},
      {"orvendel.1", {"status", "chat", "stream-chat", "doctor"}}};
  for (const auto& [name, subcommands] : pages) {
    fs::path page = prefix / "share/man/man1" / name;
    ASSERT_TRUE(fs::exists(page)) << page;
    // -ww: every warning groff knows.
    auto render = e2e::runProcess("/usr/bin/groff", {"-man", "-Tutf8", "-ww", "-P", "-cbou", page.string()},
                                  {{{"MANWIDTH", "80"}}, ""});
    EXPECT_EQ(render.err, "") << name;
    EXPECT_EQ(render.status, 0) << name;
    const std::string& text = render.out;
    for (const char* section : {"\nSYNOPSIS\n", "\nSUBCOMMANDS\n", "\nFILES\n", "\nENVIRONMENT\n",
                                "\nEXIT STATUS\n", "\nEXAMPLES\n"})
      EXPECT_NE(text.find(section), std::string::npos) << name << " lacks" << section;
    // Each subcommand heads an entry of its own under SUBCOMMANDS.
    std::string entries = text.substr(text.find("\nSUBCOMMANDS\n"));
    entries = entries.substr(0, entries.find("\nFILES\n"));
    for (const auto& subcommand : subcommands) {
      bool found = false;
      for (const char* after : {" ", "\n"}) found |= entries.find("\n       " + subcommand + after) != std::string::npos;
      EXPECT_TRUE(found) << name << " has no entry for " << subcommand;
    }
  }

  if (EDS_MODULE_BUILT) {
    // A bus socket that nobody listens on: the line comes from the module.
    e2e::ProcessOptions options;
    fs::path home = e2e::makeTempHome("vantrel-install-home", "UTC", options);
    fs::create_directories(home / "config/vantrel");
    std::ofstream(home / "config/vantrel/calendar.json")
        << R"({"backend": "eds", "access": {"events": "full-access", "reminders": "full-access"}})";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (home / "bus").c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    options.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home / "bus").string();
    auto run = e2e::runProcess((prefix / "bin/tallowick").string(), {"reminder-lists"}, options);
    EXPECT_EQ(run.err, "Cannot reach the session bus: Could not connect: Connection refused\n");
    ::close(fd);
    fs::remove_all(home);
  }
  fs::remove_all(prefix);
}

}  // namespace
