#include "tallowick/store/eds/store_choice.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/icalendar/test_support.h"
#include "tallowick/store/vdir/env.h"

namespace tallowick::eds {
namespace {

using ical::testing::TempDir;
using ical::testing::writeFile;

ical::Settings settings(std::optional<std::string> backend, bool storeSet = false) {
  ical::Settings s;
  s.backend = std::move(backend);
  if (storeSet) s.store = "~/cal";
  return s;
}

TEST(StoreChoice, SettingsDecideFirstThenAnExistingFolderThenTheBus) {
  struct Case {
    ical::Settings settings;
    bool root, bus;
    StoreChoice expected;
  };
  for (const Case& c : std::vector<Case>{{settings("eds"), true, false, StoreChoice::eds},
                                         {settings("vdir"), false, true, StoreChoice::vdir},
                                         {settings(std::nullopt, true), false, true, StoreChoice::vdir},
                                         {settings(std::nullopt), true, true, StoreChoice::vdir},
                                         {settings(std::nullopt), false, true, StoreChoice::edsIfItAnswers},
                                         {settings(std::nullopt), false, false, StoreChoice::vdir}})
    EXPECT_EQ(chooseStore(c.settings, "s.json", c.root, c.bus), c.expected) << c.settings.backend.value_or("-");
  try {
    chooseStore(settings("EDS"), "/home/a/calendar.json", false, true);
    ADD_FAILURE();
  } catch (const StoreError& e) {
    EXPECT_STREQ(e.what(), R"(Invalid settings file /home/a/calendar.json: member "backend" must be "vdir" or "eds")");
  }
}

TEST(StoreChoice, TheBackendIsReadAsWritten) {
  TempDir dir;
  const std::string file = dir.path() + "/calendar.json";
  writeFile(file, R"({"backend": 1, "store": "~/cal", "defaultReminderList": "Home", "access": {}})");
  ical::Settings read = ical::readSettings(ical::defaultEnv(), file);
  EXPECT_EQ(read.backend, "1");
  EXPECT_EQ(read.store, "~/cal");
  writeFile(file, R"({"backend": "eds")");
  EXPECT_FALSE(ical::readSettings(ical::defaultEnv(), file).backend);
}

TEST(SessionBus, CountsOnlyWhereASocketCanBe) {
  TempDir dir;
  const std::string bus = dir.path() + "/bus";
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", bus.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string empty = dir.path() + "/empty";
  std::filesystem::create_directory(empty);
  writeFile(empty + "/bus", "not a socket");
  struct Case {
    std::optional<std::string> address, runtimeDir;
    bool expected;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, std::nullopt, false},
                                         {std::nullopt, dir.path(), true},
                                         {"", empty, false},
                                         {"unix:path=" + bus, std::nullopt, true},
                                         {"unix:path=" + empty + "/bus", dir.path(), false},
                                         {"unix:path=" + dir.path() + "%2fbus,guid=1", std::nullopt, true},
                                         {"unix:path=/nonexistent;unix:abstract=/tmp/dbus-x", std::nullopt, true},
                                         {"unix:runtime=yes", dir.path(), true},
                                         {"unix:runtime=yes", empty, false},
                                         {"tcp:host=localhost,port=1", std::nullopt, true}}) {
    EXPECT_EQ(
        sessionBusPresent(c.address ? c.address->c_str() : nullptr, c.runtimeDir ? c.runtimeDir->c_str() : nullptr),
        c.expected)
        << c.address.value_or("-") << " " << c.runtimeDir.value_or("-");
  }
  ::close(fd);
}

}  // namespace
}  // namespace tallowick::eds
