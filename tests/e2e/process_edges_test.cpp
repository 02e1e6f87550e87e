// What a host meets at the edges of both programs: a closed output pipe,
// arguments that hold line breaks or broken UTF-8, request files that a JSON
// library chokes on, and a calendar store whose files make libical complain.
// In every case stderr carries one line, or nothing after a success.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "orvendel/model/local/testdata/scripted_server.h"
#include "tests/e2e/expect.h"
#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using e2e::expectFailure;
using namespace std::chrono_literals;

const std::string kBrokenPipe = "Failed to write to standard output: Broken pipe\n";

class ProcessEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = e2e::makeTempHome("process-edges", "UTC", options_);
    write("config/vantrel/calendar.json", R"({"access":{"events":"full-access","reminders":"full-access"}})");
    modelAt("http://127.0.0.1:" + std::to_string(scripted::closedPort()));
  }
  void TearDown() override { fs::remove_all(home_); }

  void write(const std::string& relative, const std::string& content) {
    fs::create_directories((home_ / relative).parent_path());
    std::ofstream(home_ / relative, std::ios::binary) << content;
  }
  void modelAt(const std::string& endpoint) {
    write("config/vantrel/model.json", "{\"endpoint\":\"" + endpoint + "\"}");
  }
  e2e::ProcessResult tallowick(const std::vector<std::string>& args) {
    return e2e::runProcess(TALLOWICK_BIN, args, options_);
  }
  e2e::ProcessResult orvendel(const std::vector<std::string>& args) {
    return e2e::runProcess(ORVENDEL_BIN, args, options_);
  }

  fs::path home_;
  e2e::ProcessOptions options_;
};


TEST_F(ProcessEdges, AClosedOutputPipeIsTheOneErrorLineNotASignal) {
  options_.closedStdout = true;
  for (const auto& r : {tallowick({"request-access", "events"}), tallowick({"reminder-lists"}), orvendel({"status"})}) {
    EXPECT_EQ(r.err, kBrokenPipe);
    EXPECT_EQ(r.status, 1);
  }
}

TEST_F(ProcessEdges, StreamChatStopsReadingTheModelAtTheFirstFailedWrite) {
  // The rest of the answer would come only after 30 s: waiting for it would
  // mean the model is still being read after the host went away.
  scripted::Answer answer;
  answer.send("data: {\"choices\":[{\"delta\":{\"content\":\"Hello\"}}]}\n\n");
  answer.parts.push_back({{"pause_ms", 30000}});
  answer.send("data: {\"choices\":[{\"delta\":{\"content\":\" there\"}}]}\n\ndata: [DONE]\n\n");
  scripted::ScriptedServer server({{"GET /health", scripted::Answer::json(200, "{}")},
                                   {"POST /v1/chat/completions", answer}});
  modelAt(server.endpoint());
  write("request.json", R"({"userMessage":"Hi","history":[]})");
  options_.closedStdout = true;
  auto start = std::chrono::steady_clock::now();
  auto r = orvendel({"stream-chat", "request.json"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(r.err, kBrokenPipe);
  EXPECT_EQ(r.status, 1);
}

TEST_F(ProcessEdges, ArgumentsWithLineBreaksStayOnOneLine) {
  expectFailure(tallowick({"foo\nbar"}), "Unknown subcommand: foo bar");
  expectFailure(tallowick({"events", "ab\ncd", "x"}), "Date must be YYYY-MM-DD: ab cd");
  expectFailure(tallowick({"add-reminder", "a\r\nb.json"}), "Cannot read request file a  b.json: No such file or directory");
  expectFailure(orvendel({"foo\nbar"}), "Unknown Apple Intelligence command: foo bar");
  expectFailure(orvendel({"chat", "a\nb.json"}), "Cannot read request file a b.json: No such file or directory");
}

TEST_F(ProcessEdges, BrokenUtf8InArgumentsIsRepairedTheSameWayByBoth) {
  expectFailure(tallowick({"caf\xC3"}), "Unknown subcommand: caf\xEF\xBF\xBD");
  expectFailure(orvendel({"caf\xC3"}), "Unknown Apple Intelligence command: caf\xEF\xBF\xBD");
  expectFailure(orvendel({"\x1B[2J"}), "Unknown Apple Intelligence command: \xEF\xBF\xBD[2J");
}

TEST_F(ProcessEdges, JsonTheLibraryRefusesIsReportedWithTheFileName) {
  write("big.json", R"({"title":"T","listName":"L","priority":1e400,"userMessage":"Hi","history":[]})");
  expectFailure(tallowick({"add-reminder", "big.json"}),
                "Invalid request file big.json: not valid JSON: a number is out of range");
  expectFailure(orvendel({"chat", "big.json"}), "Invalid request file big.json: not valid JSON: a number is out of range");
  write("cut.json", R"({"userMessage":"Hi")");
  expectFailure(orvendel({"stream-chat", "cut.json"}),
                "Invalid request file cut.json: not valid JSON at byte 20: unexpected end of input; expected '}'");
}

TEST_F(ProcessEdges, AMillionLevelsOfNestingAreRefusedNotACrash) {
  const std::string nested = std::string(1'000'000, '[') + std::string(1'000'000, ']');
  write("deep.json", R"({"title":"T","listName":"L","priority":1,"userMessage":"Hi","history":)" + nested + "}");
  const std::string refused = "Invalid request file deep.json: not valid JSON at byte 582: nested more than 512 levels deep";
  expectFailure(tallowick({"add-reminder", "deep.json"}), refused);
  expectFailure(orvendel({"chat", "deep.json"}), refused);

  // Settings nested that deep are settings that do not parse: no access, no model.
  write("config/vantrel/calendar.json", R"({"access":{"events":"full-access"},"x":)" + nested + "}");
  expectFailure(tallowick({"events", "2024-01-01", "2024-01-02"}), "Unknown calendar authorization state");
  write("config/vantrel/model.json", R"({"languages":["en"],"x":)" + nested + "}");
  auto status = orvendel({"status"});
  EXPECT_EQ(status.out, R"({"available":false,"modelName":"Apple Intelligence","supportedLanguages":[],)"
                        R"("reason":"Apple Intelligence is not enabled or the on-device model is not ready."})"
                        "\n");
  EXPECT_EQ(status.status, 0);
}

TEST_F(ProcessEdges, LibicalsComplaintsAboutBrokenFilesNeverReachStderr) {
  write("data/calendars/home/stray-end.ics", "BEGIN:VCALENDAR\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  write("data/calendars/home/only-end.ics", "END:VTODO\r\n");
  write("data/calendars/home/milk.ics",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\nBEGIN:VTODO\r\nUID:milk\r\nSUMMARY:Milk\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"events", "2024-01-01", "2024-12-31"}, {"reminders"}, {"reminder-lists"}}) {
    auto r = tallowick(args);
    EXPECT_EQ(r.err, "") << args[0];
    EXPECT_EQ(r.status, 0) << args[0];
  }
  write("done.json", R"({"title":"Milk","listName":"home"})");
  auto r = tallowick({"complete-reminder", "done.json"});
  EXPECT_EQ(r.out, "{\"ok\":true}\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace
