#include "orvendel/model/local/local_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "orvendel/model/local/responses.h"
#include "orvendel/model/local/testdata/scripted_server.h"

namespace orvendel::local {
namespace {

using scripted::Answer;
using Clock = std::chrono::steady_clock;

const std::string kChat = "POST /v1/chat/completions";

std::string chunk(const std::string& content) {
  return "data: {\"choices\":[{\"index\":0,\"delta\":{\"content\":" + nlohmann::json(content).dump() + "}}]}\n\n";
}

LocalModel modelAt(const std::string& endpoint, std::optional<std::string> name = std::nullopt,
                   std::optional<std::string> apiKey = std::nullopt) {
  ModelSettings settings;
  settings.endpoint = endpoint;
  settings.model = std::move(name);
  settings.apiKey = std::move(apiKey);
  settings.languages = {"en", "de"};
  return LocalModel(settings);
}

// All snapshots of a streamed answer, then "error: <message>" if it failed.
std::vector<std::string> streamAll(LanguageModel&& model, const std::string& prompt = "Hi") {
  auto stream = model.makeSession(std::nullopt)->streamResponse(prompt, {});
  std::vector<std::string> seen;
  try {
    while (auto snapshot = stream->next()) seen.push_back(*snapshot);
  } catch (const ModelError& e) {
    seen.push_back(std::string("error: ") + e.what());
  }
  EXPECT_FALSE(stream->next());  // finished either way
  return seen;
}

long millisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(LocalModelReadiness, FollowsHealthThenTheModelList) {
  scripted::ScriptedServer ready({{"GET /health", Answer::json(200, R"({"status":"ok"})")}});
  EXPECT_TRUE(modelAt(ready.endpoint()).isAvailable());

  scripted::ScriptedServer loading(
      {{"GET /health", Answer::json(503, R"({"error":{"code":503,"message":"Loading model"}})")},
       {"GET /v1/models", Answer::json(200, R"({"data":[{"id":"m"}]})")}});
  EXPECT_FALSE(modelAt(loading.endpoint()).isAvailable());

  // Ollama has no /health.
  scripted::ScriptedServer ollama(
      {{"GET /v1/models", Answer::json(200, R"({"object":"list","data":[{"id":"llama3.2:latest","object":"model"}]})")}});
  EXPECT_TRUE(modelAt(ollama.endpoint(), "llama3.2").isAvailable());
  EXPECT_TRUE(modelAt(ollama.endpoint()).isAvailable());
  EXPECT_FALSE(modelAt(ollama.endpoint(), "qwen3").isAvailable());
}

TEST(LocalModelReadiness, ANamedModelMustBeListedEvenByAHealthyLlamaServer) {
  const std::string listing = R"({"object":"list","data":[{"id":"qwen2.5-3b","object":"model","owned_by":"llamacpp"}]})";
  scripted::ScriptedServer server({{"GET /health", Answer::json(200, R"({"status":"ok"})")},
                                   {"GET /v1/models", Answer::json(200, listing)}});
  EXPECT_TRUE(modelAt(server.endpoint(), "qwen2.5-3b").isAvailable());
  EXPECT_FALSE(modelAt(server.endpoint(), "qwen2.5-3B").isAvailable());
  EXPECT_FALSE(modelAt(server.endpoint(), "qwen2.5").isAvailable());
  // Without a name, /health alone decides, as before.
  size_t before = server.requests().size();
  EXPECT_TRUE(modelAt(server.endpoint()).isAvailable());
  auto requests = server.requests();
  for (size_t i = before; i < requests.size(); ++i) EXPECT_NE(requests[i].path, "/v1/models");

  // A healthy runtime that lists nothing cannot vouch for a name.
  scripted::ScriptedServer unlisted({{"GET /health", Answer::json(200, R"({"status":"ok"})")}});
  EXPECT_FALSE(modelAt(unlisted.endpoint(), "qwen2.5-3b").isAvailable());
}

TEST(LocalModelReadiness, TheKeyGoesWithEveryRequestAndARefusedKeyIsUnavailable) {
  const std::string listing = R"({"data":[{"id":"scripted"}]})";
  std::map<std::string, Answer> routes = {
      {"GET /health", Answer::json(200, R"({"status":"ok"})")},
      {"GET /props", Answer::json(200, R"({"total_slots":1})")},
      {"GET /v1/models", Answer::json(200, listing)},
      {kChat, Answer::json(200, R"({"choices":[{"finish_reason":"stop","message":{"content":"Hi"}}]})")}};
  // llama-server --api-key leaves /health and /v1/models open.
  scripted::ScriptedServer llama(routes, {"--api-key", "s3cret-key"});
  auto right = modelAt(llama.endpoint(), "scripted", "s3cret-key");
  EXPECT_TRUE(right.isAvailable());
  EXPECT_EQ(right.makeSession(std::nullopt)->respond("Hi", {}), "Hi");
  auto requests = llama.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& request : requests) EXPECT_EQ(request.headers.at("authorization"), "Bearer s3cret-key") << request.path;
  EXPECT_EQ(requests[0].body.find("s3cret"), std::string::npos);

  EXPECT_FALSE(modelAt(llama.endpoint(), "scripted", "wrong").isAvailable());
  EXPECT_FALSE(modelAt(llama.endpoint()).isAvailable());  // the runtime wants a key and none is configured
  EXPECT_EQ(llama.requests().back().headers.count("authorization"), 0u);

  // A proxy in front of Ollama checks every path; Ollama has no /health or /props.
  scripted::ScriptedServer proxy({{"GET /v1/models", Answer::json(200, R"({"data":[{"id":"llama3.2:latest"}]})")}},
                                 {"--api-key", "s3cret-key", "--api-key-scope", "all"});
  EXPECT_TRUE(modelAt(proxy.endpoint(), "llama3.2", "s3cret-key").isAvailable());
  EXPECT_FALSE(modelAt(proxy.endpoint(), "llama3.2", "wrong").isAvailable());
}

TEST(LocalModelRespond, TheKeyNeverShowsInAFailure) {
  // A server that quotes the header it refused.
  const std::string echo = R"({"error":{"code":401,"message":"Invalid API Key: Bearer s3cret-key"}})";
  scripted::ScriptedServer server({{kChat, Answer::json(401, echo)}});
  try {
    modelAt(server.endpoint(), std::nullopt, "s3cret-key").makeSession(std::nullopt)->respond("Hi", {});
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), "Local model answered HTTP 401: Invalid API Key: Bearer <API key>");
  }
  EXPECT_EQ(streamAll(modelAt(server.endpoint(), std::nullopt, "s3cret-key")),
            std::vector<std::string>{"error: Local model answered HTTP 401: Invalid API Key: Bearer <API key>"});
}

TEST(LocalModelReadiness, IsFastWhenNothingListensAndBoundedWhenTheRuntimeHangs) {
  auto start = Clock::now();
  EXPECT_FALSE(modelAt("http://127.0.0.1:" + std::to_string(scripted::closedPort())).isAvailable());
  EXPECT_LT(millisSince(start), 100);

  scripted::SilentListener hanging;
  start = Clock::now();
  EXPECT_FALSE(modelAt(hanging.endpoint()).isAvailable());
  EXPECT_LT(millisSince(start), kReadinessBudgetMs + 500);
}

TEST(LocalModelReadiness, OffLoopbackOrBadSettingsIsUnavailableWithoutContact) {
  // TEST-NET-1 is unroutable: any attempt would take the connect timeout.
  auto start = Clock::now();
  auto remote = modelAt("http://192.0.2.1:8080");
  EXPECT_FALSE(remote.isAvailable());
  EXPECT_THROW(remote.makeSession(std::nullopt)->respond("Hi", {}), ModelError);
  EXPECT_EQ(streamAll(std::move(remote)), std::vector<std::string>{"error: Local model endpoint is not on this machine "
                                                        "(loopback only): http://192.0.2.1:8080"});
  EXPECT_LT(millisSince(start), 50);

  ModelSettings broken;
  broken.problem = "Model settings are not valid JSON";
  LocalModel model(broken);
  EXPECT_FALSE(model.isAvailable());
  EXPECT_TRUE(model.supportedLanguages().empty());
}

TEST(LocalModelReadiness, LanguagesComeFromTheSettings) {
  auto languages = modelAt("http://127.0.0.1:1").supportedLanguages();
  ASSERT_EQ(languages.size(), 2u);
  EXPECT_EQ(languages[0].languageCode, "en");
  EXPECT_EQ(languages[1].languageCode, "de");
}

TEST(LocalModelRespond, SendsTheSessionAndReturnsTheContent) {
  scripted::ScriptedServer server(
      {{kChat, Answer::json(200, scripted::readFile(scripted::testdataPath("llama_server_completion.json")))}});
  auto model = modelAt(server.endpoint(), "llama3.2");
  Transcript transcript{{{TranscriptEntry::Kind::instructions, "1", {{"s", "Be brief."}}, {}},
                         {TranscriptEntry::Kind::prompt, "2", {{"s", "Hi"}}, {}},
                         {TranscriptEntry::Kind::response, "3", {{"s", "Hello"}}, {}}}};
  EXPECT_EQ(model.makeSession(transcript)->respond("How are you?", {}), "  Hello / w\xC3\xB6rld\n");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  auto body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(body["model"], "llama3.2");
  EXPECT_EQ(body["stream"], false);
  EXPECT_EQ(body["messages"], nlohmann::json::parse(R"([
    {"role":"system","content":"Be brief."}, {"role":"user","content":"Hi"},
    {"role":"assistant","content":"Hello"}, {"role":"user","content":"How are you?"}])"));
}

TEST(LocalModelRespond, AnAnswerCutOffAtTheLengthLimitFails) {
  scripted::ScriptedServer server({{kChat, Answer::json(200, R"({"choices":[{"finish_reason":"length","index":0,)"
                                                             R"("message":{"role":"assistant","content":"Once upon"}}]})")}});
  try {
    modelAt(server.endpoint()).makeSession(std::nullopt)->respond("Hi", {});
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), kCutOffMessage);
  }
}

TEST(LocalModelRespond, FailuresCarryTheServersMessage) {
  scripted::ScriptedServer server({{kChat, Answer::json(400, R"({"error":{"code":400,"message":"the request )"
                                                              R"(exceeds the available context size"}})")}});
  try {
    modelAt(server.endpoint()).makeSession(std::nullopt)->respond("Hi", {});
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_STREQ(e.what(), "Local model answered HTTP 400: the request exceeds the available context size");
  }
  try {
    modelAt("http://127.0.0.1:" + std::to_string(scripted::closedPort())).makeSession(std::nullopt)->respond("Hi", {});
    FAIL() << "no error";
  } catch (const ModelError& e) {
    EXPECT_NE(std::string(e.what()).find("Local model connection failed: "), std::string::npos) << e.what();
  }
}

TEST(LocalModelStream, RecordedTranscriptsOfBothRuntimes) {
  scripted::ScriptedServer llama(
      {{kChat, Answer().send(scripted::readFile(scripted::testdataPath("llama_server_stream.sse")))}});
  EXPECT_EQ(streamAll(modelAt(llama.endpoint())),
            (std::vector<std::string>{"Hello", "Hello, w\xC3\xB6rld",
                                      "Hello, w\xC3\xB6rld \xE2\x80\x94 \xF0\x9F\x91\x8B"}));
  EXPECT_EQ(nlohmann::json::parse(llama.requests()[0].body)["stream"], true);

  scripted::ScriptedServer ollama({{kChat, Answer().send(scripted::readFile(scripted::testdataPath("ollama_stream.sse")))}});
  EXPECT_EQ(streamAll(modelAt(ollama.endpoint(), "llama3.2")),
            (std::vector<std::string>{"Hello", "Hello, w\xC3\xB6rld", "Hello, w\xC3\xB6rld!"}));
}

TEST(LocalModelStream, PiecesAcrossWritesAndCommentsOnTheWire) {
  // Two events in one write, then an event cut inside the two bytes of "ö".
  std::string cut = chunk("w\xC3\xB6rld");
  size_t inside = cut.find('\xC3') + 1;
  scripted::ScriptedServer server({{kChat, Answer()
                                               .send(": keep-alive\n\n" + chunk("Hello") + chunk(", "))
                                               .send(cut.substr(0, inside))
                                               .send(cut.substr(inside) + ": keep-alive\n\n")
                                               .send("data: [DONE]\n\n")}});
  EXPECT_EQ(streamAll(modelAt(server.endpoint())),
            (std::vector<std::string>{"Hello", "Hello, ", "Hello, w\xC3\xB6rld"}));
}

TEST(LocalModelStream, EachSnapshotArrivesBeforeTheRestIsSent) {
  scripted::ScriptedServer server({{kChat, Answer().send(chunk("first")).wait().send(chunk(" second") + "data: [DONE]\n\n")}});
  auto stream = modelAt(server.endpoint()).makeSession(std::nullopt)->streamResponse("Hi", {});
  EXPECT_EQ(stream->next(), "first");
  server.release();
  EXPECT_EQ(stream->next(), "first second");
  EXPECT_FALSE(stream->next());
}

TEST(LocalModelStream, FailuresEndTheStreamWithTheServersMessage) {
  auto read = [](const std::string& name) { return scripted::readFile(scripted::testdataPath(name)); };
  struct Case {
    Answer answer;
    std::vector<std::string> expected;
  };
  std::vector<Case> cases = {
      {Answer::json(503, R"({"error":{"code":503,"message":"Loading model","type":"unavailable_error"}})"),
       {"error: Local model answered HTTP 503: Loading model"}},
      {Answer::json(500, R"({"error":{"message":"model runner crashed","type":"api_error"}})"),
       {"error: Local model answered HTTP 500: model runner crashed"}},
      {Answer().send(read("llama_server_error_event.sse")), {"Once upon", "error: Local model failed: the KV cache is full"}},
      {Answer().send(read("ollama_error_event.sse")),
       {"Once upon", "error: Local model failed: model runner has unexpectedly stopped"}},
      {Answer().send(chunk("Once")), {"Once", "error: Local model's answer was cut off: the stream ended without [DONE]"}},
      {Answer().send(chunk("Once")).endWith("close"),
       {"Once", "error: Local model connection failed: transfer closed with outstanding read data remaining"}},
      {Answer().send(read("llama_server_reasoning.sse")), {"Hi", "Hi there"}},
      {Answer().send(read("llama_server_length.sse")),
       {"Once upon", "Once upon a time", std::string("error: ") + kCutOffMessage}},
  };
  for (auto& c : cases) {
    scripted::ScriptedServer server({{kChat, c.answer}});
    EXPECT_EQ(streamAll(modelAt(server.endpoint())), c.expected);
  }
}

TEST(LocalModelStream, AResetConnectionIsAFailure) {
  scripted::ScriptedServer server({{kChat, Answer().send(chunk("Once")).endWith("reset")}});
  auto seen = streamAll(modelAt(server.endpoint()));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Once");
  EXPECT_EQ(seen[1].rfind("error: Local model connection failed: ", 0), 0u) << seen[1];
}

}  // namespace
}  // namespace orvendel::local
