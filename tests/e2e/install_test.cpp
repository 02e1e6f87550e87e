// cmake --install as the README gives it: both programs and a manual page
// each under the prefix, the programs runnable from there and the pages
// rendering without a warning.

#include <gtest/gtest.h>
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
  fs::remove_all(prefix);
}

}  // namespace
