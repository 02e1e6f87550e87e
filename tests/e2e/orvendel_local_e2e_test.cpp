// orvendel against a scripted local runtime on loopback, with its settings in
// a temporary XDG_CONFIG_HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "orvendel/model/local/testdata/scripted_server.h"
#include "tests/e2e/process.h"

namespace {

using scripted::Answer;
using namespace std::chrono_literals;

const std::string kChat = "POST /v1/chat/completions";
const std::string kUnavailable =
    R"({"available":false,"modelName":"Apple Intelligence","supportedLanguages":["en","de"],)"
    R"("reason":"Apple Intelligence is not enabled or the on-device model is not ready."})"
    "\n";

std::string chunk(const std::string& content) {
  return "data: {\"choices\":[{\"index\":0,\"delta\":{\"content\":" + nlohmann::json(content).dump() + "}}]}\n\n";
}

class OrvendelLocal : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("orvendel-local-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "vantrel");
    std::ofstream(dir_ / "request.json")
        << R"({"systemPrompt":" Be brief. ","userMessage":"  Hi there \n","history":[)"
        << R"({"role":"user","content":"Earlier"},{"role":"assistant","content":"Answer"},{"role":"tool","content":"x"}]})";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void writeSettings(const std::string& endpoint) {
    std::ofstream(dir_ / "vantrel" / "model.json")
        << nlohmann::json{{"endpoint", endpoint}, {"model", "llama3.2"}, {"languages", {"en", "de"}}}.dump();
  }

  // A proxy that does not exist: honouring it would break every request.
  e2e::ProcessOptions options() const {
    std::string proxy = "http://127.0.0.1:" + std::to_string(scripted::closedPort());
    return {{{"XDG_CONFIG_HOME", dir_.string()}, {"http_proxy", proxy}, {"HTTP_PROXY", proxy}, {"ALL_PROXY", proxy}},
            ""};
  }
  std::string request() const { return (dir_ / "request.json").string(); }

  std::filesystem::path dir_;
};

TEST_F(OrvendelLocal, StatusReportsAReadyRuntime) {
  scripted::ScriptedServer server({{"GET /health", Answer::json(200, R"({"status":"ok"})")}});
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"status"}, options());
  EXPECT_EQ(result.out, R"({"available":true,"modelName":"Apple Intelligence","supportedLanguages":["en","de"]})"
                        "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST_F(OrvendelLocal, StatusIsUnavailableWhenNothingListensOrTheEndpointIsRemote) {
  for (std::string endpoint : {"http://127.0.0.1:" + std::to_string(scripted::closedPort()), std::string("http://192.0.2.1:8080")}) {
    writeSettings(endpoint);
    auto start = std::chrono::steady_clock::now();
    auto result = e2e::runProcess(ORVENDEL_BIN, {"status"}, options());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << endpoint;
    EXPECT_EQ(result.out, kUnavailable) << endpoint;
    EXPECT_EQ(result.status, 0);
  }
}

TEST_F(OrvendelLocal, ChatSendsTheConversationAndPrintsTheAnswer) {
  scripted::ScriptedServer server(
      {{"GET /health", Answer::json(200, "{}")},
       {kChat, Answer::json(200, R"({"choices":[{"index":0,"message":{"role":"assistant","content":"Hi / you\n"}}]})")}});
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"chat", request()}, options());
  EXPECT_EQ(result.out, "{\"content\":\"Hi \\/ you\\n\"}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  auto body = nlohmann::json::parse(requests[1].body);
  EXPECT_EQ(body["model"], "llama3.2");
  EXPECT_EQ(body["messages"], nlohmann::json::parse(R"([
    {"role":"system","content":"Be brief."}, {"role":"user","content":"Earlier"},
    {"role":"assistant","content":"Answer"}, {"role":"user","content":"Hi there"}])"));
}

TEST_F(OrvendelLocal, StreamChatPrintsEachTokenAsItArrives) {
  scripted::ScriptedServer server(
      {{"GET /health", Answer::json(200, "{}")},
       {kChat, Answer()
                   .send("data: {\"choices\":[{\"index\":0,\"delta\":{\"role\":\"assistant\",\"content\":null}}]}\n\n" +
                         chunk("Hel"))
                   .wait()
                   .send(chunk("lo \"w\xC3\xB6rld\"\n") + ": keep-alive\n\n" + chunk("!") + "data: [DONE]\n\n")}});
  writeSettings(server.endpoint());
  e2e::RunningProcess process(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(process.readLine(10s), R"({"type":"token","content":"Hel"})");
  server.release();
  auto result = process.finish();
  EXPECT_EQ(result.out,
            "{\"type\":\"token\",\"content\":\"lo \\\"w\xC3\xB6rld\\\"\\n\"}\n"
            "{\"type\":\"token\",\"content\":\"!\"}\n"
            "{\"type\":\"done\",\"content\":\"\"}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST_F(OrvendelLocal, AStreamThatBreaksKeepsItsLinesAndFails) {
  scripted::ScriptedServer server(
      {{"GET /health", Answer::json(200, "{}")},
       {kChat, Answer().send(chunk("Once") +
                             R"(data: {"error":{"message":"model runner has unexpectedly stopped","type":"api_error"}})"
                             "\n\n")}});
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(result.out, "{\"type\":\"token\",\"content\":\"Once\"}\n");
  EXPECT_EQ(result.err, "Local model failed: model runner has unexpectedly stopped\n");
  EXPECT_EQ(result.status, 1);
}

TEST_F(OrvendelLocal, StreamChatCutOffIsAFailure) {
  scripted::ScriptedServer server({{"GET /health", Answer::json(200, "{}")}, {kChat, Answer().send(chunk("Once"))}});
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(result.out, "{\"type\":\"token\",\"content\":\"Once\"}\n");
  EXPECT_EQ(result.err, "Local model's answer was cut off: the stream ended without [DONE]\n");
  EXPECT_EQ(result.status, 1);
}

}  // namespace
