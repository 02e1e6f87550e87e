// orvendel against a scripted local runtime on loopback, with its settings in
// a temporary XDG_CONFIG_HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

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

// A ready Ollama-style listing of the model the settings name, plus `chat`.
std::map<std::string, Answer> readyRoutes(std::optional<Answer> chat = std::nullopt) {
  std::map<std::string, Answer> routes = {
      {"GET /health", Answer::json(200, "{}")},
      {"GET /v1/models", Answer::json(200, R"({"object":"list","data":[{"id":"llama3.2:latest","object":"model"}]})")}};
  if (chat) routes.emplace(kChat, *chat);
  return routes;
}

// The text with every "after <digits> ms" as "after N ms": connect times vary.
std::string withAnyTime(std::string text) {
  for (size_t at = text.find("after "); at != std::string::npos; at = text.find("after ", at + 1)) {
    size_t digits = at + 6, end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > digits && text.compare(end, 3, " ms") == 0) text.replace(digits, end - digits, "N");
  }
  return text;
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

  void writeSettings(const std::string& endpoint, nlohmann::json more = nlohmann::json::object()) {
    nlohmann::json settings = {{"endpoint", endpoint}, {"model", "llama3.2"}, {"languages", {"en", "de"}}};
    settings.update(more);
    std::ofstream(dir_ / "vantrel" / "model.json") << settings.dump();
  }
  // A key file of that mode.
  std::string writeKey(const std::string& key, std::filesystem::perms mode) {
    auto path = dir_ / "key";
    std::filesystem::remove(path);
    std::ofstream(path) << key << "\n";
    std::filesystem::permissions(path, mode);
    return path.string();
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
  scripted::ScriptedServer server(readyRoutes());
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"status"}, options());
  EXPECT_EQ(result.out, R"({"available":true,"modelName":"Apple Intelligence","supportedLanguages":["en","de"]})"
                        "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST_F(OrvendelLocal, StatusIsUnavailableWhenTheRuntimeDoesNotListTheNamedModel) {
  scripted::ScriptedServer server(readyRoutes());
  writeSettings(server.endpoint(), {{"model", "llama3.3"}});
  auto result = e2e::runProcess(ORVENDEL_BIN, {"status"}, options());
  EXPECT_EQ(result.out, kUnavailable);
  EXPECT_EQ(result.status, 0);
}

TEST_F(OrvendelLocal, TheApiKeyFileUnlocksTheRuntimeAndIsNeverPrinted) {
  using P = std::filesystem::perms;
  // llama-server --api-key: /health and /v1/models answer anyone.
  scripted::ScriptedServer server(
      readyRoutes(Answer::json(200, R"({"choices":[{"finish_reason":"stop","message":{"content":"Hi"}}]})")),
      {"--api-key", "s3cret-key"});
  const std::string ready = R"({"available":true,"modelName":"Apple Intelligence","supportedLanguages":["en","de"]})"
                            "\n";
  struct Case {
    std::string key;
    P mode;
    std::string status;
  };
  for (const Case& c : {Case{"s3cret-key", P::owner_read | P::owner_write, ready},
                        Case{"wrong-key", P::owner_read, kUnavailable},
                        // Refused before any contact: others could read it.
                        Case{"s3cret-key", P::owner_read | P::owner_write | P::group_read | P::others_read, kUnavailable}}) {
    writeSettings(server.endpoint(), {{"apiKeyFile", writeKey(c.key, c.mode)}});
    auto result = e2e::runProcess(ORVENDEL_BIN, {"status"}, options());
    EXPECT_EQ(result.out, c.status) << c.key;
    EXPECT_EQ(result.err, "");
  }
  writeSettings(server.endpoint(), {{"apiKeyFile", "../key"}});  // relative to the settings' directory
  writeKey("s3cret-key", P::owner_read);
  auto chat = e2e::runProcess(ORVENDEL_BIN, {"chat", request()}, options());
  EXPECT_EQ(chat.out, "{\"content\":\"Hi\"}\n");
  EXPECT_EQ(chat.status, 0);
  EXPECT_EQ(server.requests().back().headers["authorization"], "Bearer s3cret-key");

  // A wrong key that the runtime quotes back: the failure line hides it.
  scripted::ScriptedServer echo({{"GET /health", Answer::json(200, "{}")},
                                 {"GET /v1/models", Answer::json(200, R"({"data":[{"id":"llama3.2"}]})")},
                                 {kChat, Answer::json(401, R"({"error":{"message":"Invalid API Key: s3cret-key"}})")}});
  writeSettings(echo.endpoint(), {{"apiKeyFile", writeKey("s3cret-key", P::owner_read)}});
  auto refused = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "Local model answered HTTP 401: Invalid API Key: <API key>\n");
  EXPECT_EQ(refused.status, 1);
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
      readyRoutes(Answer::json(200, R"({"choices":[{"index":0,"message":{"role":"assistant","content":"Hi / you\n"}}]})")));
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"chat", request()}, options());
  EXPECT_EQ(result.out, "{\"content\":\"Hi \\/ you\\n\"}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);

  auto requests = server.requests();
  ASSERT_EQ(requests.back().path, "/v1/chat/completions");
  EXPECT_EQ(requests.back().headers.count("authorization"), 0u);
  auto body = nlohmann::json::parse(requests.back().body);
  EXPECT_EQ(body["model"], "llama3.2");
  EXPECT_EQ(body["messages"], nlohmann::json::parse(R"([
    {"role":"system","content":"Be brief."}, {"role":"user","content":"Earlier"},
    {"role":"assistant","content":"Answer"}, {"role":"user","content":"Hi there"}])"));
}

TEST_F(OrvendelLocal, StreamChatPrintsEachTokenAsItArrives) {
  scripted::ScriptedServer server(readyRoutes(
      Answer()
                   .send("data: {\"choices\":[{\"index\":0,\"delta\":{\"role\":\"assistant\",\"content\":null}}]}\n\n" +
                         chunk("Hel"))
                   .wait()
                   .send(chunk("lo \"w\xC3\xB6rld\"\n") + ": keep-alive\n\n" + chunk("!") + "data: [DONE]\n\n")));
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
      readyRoutes(Answer().send(chunk("Once") +
                                R"(data: {"error":{"message":"model runner has unexpectedly stopped","type":"api_error"}})"
                                "\n\n")));
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(result.out, "{\"type\":\"token\",\"content\":\"Once\"}\n");
  EXPECT_EQ(result.err, "Local model failed: model runner has unexpectedly stopped\n");
  EXPECT_EQ(result.status, 1);
}

TEST_F(OrvendelLocal, StreamChatCutOffIsAFailure) {
  scripted::ScriptedServer server(readyRoutes(Answer().send(chunk("Once"))));
  writeSettings(server.endpoint());
  auto result = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(result.out, "{\"type\":\"token\",\"content\":\"Once\"}\n");
  EXPECT_EQ(result.err, "Local model's answer was cut off: the stream ended without [DONE]\n");
  EXPECT_EQ(result.status, 1);
}

// The runtime stopped at its length limit but closed the stream as usual: the
// host must not take the half answer for a whole one.
TEST_F(OrvendelLocal, AnAnswerCutOffAtTheLengthLimitIsAFailureInBothChats) {
  const std::string cutOff =
      "Local model's answer was cut off: the runtime stopped it at its length limit (context or token limit)\n";
  scripted::ScriptedServer streamed(
      readyRoutes(Answer().send(scripted::readFile(scripted::testdataPath("llama_server_length.sse")))));
  writeSettings(streamed.endpoint());
  auto stream = e2e::runProcess(ORVENDEL_BIN, {"stream-chat", request()}, options());
  EXPECT_EQ(stream.out,
            "{\"type\":\"token\",\"content\":\"Once upon\"}\n"
            "{\"type\":\"token\",\"content\":\" a time\"}\n");
  EXPECT_EQ(stream.err, cutOff);
  EXPECT_EQ(stream.status, 1);

  scripted::ScriptedServer whole(readyRoutes(Answer::json(
      200, R"({"choices":[{"finish_reason":"length","index":0,"message":{"role":"assistant","content":"Once upon"}}]})")));
  writeSettings(whole.endpoint());
  auto chat = e2e::runProcess(ORVENDEL_BIN, {"chat", request()}, options());
  EXPECT_EQ(chat.out, "");
  EXPECT_EQ(chat.err, cutOff);
  EXPECT_EQ(chat.status, 1);
}

// What `doctor` tells a person in each case that `status` answers with the
// same fixed reason, and in a healthy one.
TEST_F(OrvendelLocal, DoctorSaysWhatWasTriedAndWhatIsWrong) {
  using P = std::filesystem::perms;
  scripted::ScriptedServer server(
      {{"GET /health", Answer::json(200, R"({"status":"ok"})")},
       {"GET /props", Answer::json(200, R"({"total_slots":1})")},
       {"GET /v1/models", Answer::json(200, R"({"data":[{"id":"llama3.2:latest"},{"id":"qwen"}]})")}},
      {"--api-key", "s3cret-key"});
  const std::string settings = (dir_ / "vantrel" / "model.json").string();
  const std::string key = (dir_ / "key").string();
  const std::string closedPort = std::to_string(scripted::closedPort());
  const std::string closed = "http://127.0.0.1:" + closedPort;
  const std::string read = "settings: " + settings + " (read)";
  const std::string keyMode =
      "Model API key file " + key + " may be read by other users (mode 0644); make it private: chmod 600 " + key;
  const std::string truncated =
      "Model settings are not valid JSON at byte 53: invalid string: missing closing quote (" + settings + ")";
  auto refused = [](const std::string& port) {
    return "GET /health: Local model connection failed: Failed to connect to 127.0.0.1 port " + port +
           " after N ms: Couldn't connect to server";
  };
  struct Case {
    std::string name;
    std::function<void()> prepare;
    std::vector<std::string> out;  // before the verdict; "after N ms" stands for any time
    std::string problem;           // empty: usable
  };
  const Case cases[] = {
      {"nothing on the default endpoint", [&] { std::filesystem::remove(settings); },
       {"settings: " + settings + " (not there; the defaults apply)", "endpoint: http://127.0.0.1:8080",
        "model: none configured: whatever the runtime serves", "api key: none", refused("8080"), "languages: none"},
       "no answer from a model runtime at http://127.0.0.1:8080 (GET /health failed)"},
      {"Ollama's settings, nothing listening", [&] { writeSettings(closed); },
       {read, "endpoint: " + closed, "model: llama3.2", "api key: none", refused(closedPort), "languages: en, de"},
       "no answer from a model runtime at " + closed + " (GET /health failed)"},
      {"a key file others may read",
       [&] {
         auto mode = P::owner_read | P::owner_write | P::group_read | P::others_read;
         writeSettings(server.endpoint(), {{"apiKeyFile", writeKey("s3cret-key", mode)}});
       },
       {read, "settings error: " + keyMode,
        "endpoint: " + server.endpoint() + " (not contacted: the settings cannot be used)", "model: llama3.2",
        "api key: apiKeyFile " + key + " (mode 0644)", "languages: en, de"},
       keyMode},
      {"an endpoint off loopback", [&] { writeSettings("http://192.0.2.1:8080"); },
       {read, "endpoint: http://192.0.2.1:8080 (not on loopback: never contacted)", "model: llama3.2", "api key: none",
        "languages: en, de"},
       "Local model endpoint is not on this machine (loopback only): http://192.0.2.1:8080"},
      {"a truncated model.json",
       [&] { std::ofstream(settings) << R"({"endpoint": "http://127.0.0.1:11434", "model": "lla)"; },
       {read, "settings error: " + truncated, "endpoint: none contacted: the settings cannot be used",
        "languages: none"},
       truncated},
      {"a key the runtime refuses",
       [&] { writeSettings(server.endpoint(), {{"apiKeyFile", writeKey("wrong-key", P::owner_read)}}); },
       {read, "endpoint: " + server.endpoint(), "model: llama3.2", "api key: apiKeyFile " + key + " (mode 0400)",
        "GET /health: 200", "GET /props: 401: Invalid API Key", "languages: en, de"},
       "the runtime refuses the API key (GET /props answered 401)"},
      {"healthy",
       [&] {
         writeSettings(server.endpoint(), {{"apiKeyFile", writeKey("s3cret-key", P::owner_read | P::owner_write)}});
       },
       {read, "endpoint: " + server.endpoint(), "model: llama3.2", "api key: apiKeyFile " + key + " (mode 0600)",
        "GET /health: 200", "GET /props: 200", "GET /v1/models: 200: lists llama3.2:latest, qwen", "languages: en, de"},
       ""},
  };
  for (const Case& c : cases) {
    if (c.name == "nothing on the default endpoint" && scripted::listening(8080)) {
      std::cout << "[ SKIPPED  ] " << c.name << ": something listens on 127.0.0.1:8080 here\n";
      continue;
    }
    c.prepare();
    auto result = e2e::runProcess(ORVENDEL_BIN, {"doctor"}, options());
    std::string expected;
    for (const auto& line : c.out) expected += line + "\n";
    expected += "verdict: " + (c.problem.empty() ? "usable" : "not usable: " + c.problem) + "\n";
    EXPECT_EQ(withAnyTime(result.out), expected) << c.name;
    EXPECT_EQ(result.err, c.problem.empty() ? "" : "The model is not usable: " + c.problem + "\n") << c.name;
    EXPECT_EQ(result.status, c.problem.empty() ? 0 : 1) << c.name;
    EXPECT_EQ(result.out.find("s3cret"), std::string::npos) << c.name;
  }
}

}  // namespace
