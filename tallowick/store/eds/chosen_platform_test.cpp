#include "tallowick/store/eds/chosen_platform.h"

#include <gtest/gtest.h>

#include "tallowick/fake_store.h"
#include "tallowick/store/eds/fake_eds_service.h"
#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::eds {
namespace {

using ical::testing::TempDir;
using ical::testing::writeFile;

// Which store answers, whether EDS was loaded for it, and that asking for
// access never loads it.
TEST(ChosenPlatform, LoadsEdsOnlyWhenChosenAndFallsBackUnlessNamed) {
  struct Case {
    std::string settings;
    bool root, bus, edsAnswers;
    std::string expected;  // the list title that answers, or the error
    int loads;
  };
  const std::string noBus =
      "Cannot reach evolution-data-server: there is no session bus (DBUS_SESSION_BUS_ADDRESS is not set and "
      "$XDG_RUNTIME_DIR/bus does not exist)";
  for (const Case& c : std::vector<Case>{{"{}", true, true, true, "vdir list", 0},
                                         {"{}", false, true, true, "eds list", 1},
                                         {"{}", false, true, false, "vdir list", 1},
                                         {"{}", false, false, true, "vdir list", 0},
                                         {R"({"store": "elsewhere"})", false, true, true, "vdir list", 0},
                                         {R"({"backend": "vdir"})", false, true, true, "vdir list", 0},
                                         {R"({"backend": "eds"})", true, true, true, "eds list", 1},
                                         {R"({"backend": "eds"})", true, true, false, "No bus today", 1},
                                         {R"({"backend": "eds"})", true, false, true, noBus, 0}}) {
    SCOPED_TRACE(c.settings + (c.root ? " root" : "") + (c.bus ? " bus" : "") + (c.edsAnswers ? " eds" : ""));
    TempDir dir;
    writeFile(dir.path() + "/calendar.json", c.settings);
    if (c.root) std::filesystem::create_directory(dir.path() + "/calendars");
    auto vdir = std::make_unique<tallowick::testing::FakePlatform>();
    vdir->state.addList("vdir list");
    testing::FakeEds eds;
    eds.sources = {{"t", "eds list", EdsSourceKind::taskList}};
    if (!c.edsAnswers) eds.failure = "No bus today";
    int loads = 0;
    ChoiceConfig config;
    config.settingsFile = dir.path() + "/calendar.json";
    config.vdirRoot = dir.path() + "/calendars";
    config.sessionBus = [&] { return c.bus; };
    config.loadService = [&] {
      ++loads;
      return std::make_unique<testing::FakeEdsService>(eds);
    };
    ChosenPlatform platform(std::move(vdir), config);
    auto store = platform.openStore();
    store->requestFullAccessToReminders([](bool, std::optional<std::string>) {});
    EXPECT_EQ(loads, 0);
    std::string answer;
    try {
      answer = store->calendars(EntityType::reminder).at(0).title;
    } catch (const StoreError& e) {
      answer = e.what();
    }
    EXPECT_EQ(answer, c.expected);
    EXPECT_EQ(loads, c.loads);
  }
}

}  // namespace
}  // namespace tallowick::eds
