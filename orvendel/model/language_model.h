#pragma once
// The on-device language model: its availability and languages, sessions built
// from a transcript or from instructions, and one-shot or streamed answers.
// The logic of orvendel reaches the model only through these classes.
//
// Abstract so it can be faked in tests. The Linux implementation is a client of
// a local model runtime on loopback (model/local/); it is the one that
// makeDefaultModelPlatform() returns.
//
// Texts are valid UTF-8. Calls that wait for the model block the calling
// thread; none is called concurrently with another.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvendel {

// A supported language; the code is a short text such as "en" when the
// language has one.
struct Language {
  std::optional<std::string> languageCode;
};

// Sampling mode, temperature and maximum response tokens; unset means the
// model's default.
struct GenerationOptions {
  std::optional<std::string> samplingMode;
  std::optional<double> temperature;
  std::optional<int> maximumResponseTokens;
};

struct TextSegment {
  std::string id;
  std::string content;
};

struct TranscriptEntry {
  enum class Kind { instructions, prompt, response };
  Kind kind;
  std::string id;
  std::vector<TextSegment> segments;
  GenerationOptions options;  // prompt entries only
};

struct Transcript {
  std::vector<TranscriptEntry> entries;
};

// An error of the model layer. what() is one human-readable line.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A streamed answer. Owned by the caller.
class ResponseStream {
 public:
  virtual ~ResponseStream() = default;

  // Waits for the next snapshot: the whole answer text generated so far.
  // Returns nothing once the answer is complete. Throws ModelError (or another
  // std::exception) when the answer fails; the stream is then finished.
  virtual std::optional<std::string> next() = 0;
};

// A conversation with the model, with its context (transcript or instructions)
// in force. Owned by the caller.
class LanguageModelSession {
 public:
  virtual ~LanguageModelSession() = default;

  // Waits for the whole answer to `prompt` and returns its text. Throws
  // ModelError (or another std::exception) when the model fails.
  virtual std::string respond(const std::string& prompt, const GenerationOptions& options) = 0;

  // Starts a streamed answer to `prompt`. Never fails itself; failures come
  // from the stream's next().
  virtual std::unique_ptr<ResponseStream> streamResponse(const std::string& prompt,
                                                         const GenerationOptions& options) = 0;
};

// What a back end found out about the model while checking its
// availability, for a person to read (orvendel doctor); the host never sees it.
struct ModelDiagnosis {
  struct Fact {
    std::string name;   // what was looked at, such as "endpoint" or "GET /health"
    std::string value;  // what was found, such as "http://127.0.0.1:8080" or "200"
  };
  std::vector<Fact> facts;  // in the order they were found
  // Why the model is unavailable, in one line; none when it is available.
  std::optional<std::string> problem;
};

// The default on-device model.
class LanguageModel {
 public:
  virtual ~LanguageModel() = default;

  // Whether the model can answer now. Never fails.
  virtual bool isAvailable() = 0;

  // Checks availability as isAvailable() does and tells what was found on
  // the way. Never fails; never holds a secret such as an API key. A back
  // end with nothing to tell needs no override.
  virtual ModelDiagnosis diagnose() {
    ModelDiagnosis diagnosis;
    if (!isAvailable()) diagnosis.problem = "the model is not available";
    return diagnosis;
  }

  // The supported languages, in the model's order. Never fails.
  virtual std::vector<Language> supportedLanguages() = 0;

  // A session (no tools) with the transcript's entries as its context.
  virtual std::unique_ptr<LanguageModelSession> makeSession(const Transcript& transcript) = 0;

  // A session (no tools) with optional instructions as its context.
  virtual std::unique_ptr<LanguageModelSession> makeSession(const std::optional<std::string>& instructions) = 0;
};

// The model platform of this build's back end.
class ModelPlatform {
 public:
  virtual ~ModelPlatform() = default;

  // The default model; the platform owns it and it lives as long as the platform.
  virtual LanguageModel& defaultModel() = 0;

  // Whether the operating system is at least the given version.
  virtual bool isOperatingSystemAtLeast(int major, int minor, int patch) = 0;
};

std::unique_ptr<ModelPlatform> makeDefaultModelPlatform();

}  // namespace orvendel
