#pragma once
// Test-only: an in-memory model platform with programmable answers that
// records what it was asked, including the context of every session.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "orvendel/model/language_model.h"

namespace orvendel {

// One step of a scripted stream: a snapshot, or (with failure set) an error.
struct FakeStreamStep {
  std::string text;
  std::optional<std::string> failure;

  static FakeStreamStep snapshot(std::string text) { return {std::move(text), std::nullopt}; }
  static FakeStreamStep error(std::string message) { return {{}, std::move(message)}; }
};

struct FakeSessionRecord {
  bool fromTranscript = false;
  Transcript transcript;                    // when fromTranscript
  std::optional<std::string> instructions;  // otherwise
  std::vector<std::string> prompts;         // what respond/streamResponse were asked
};

class FakeModel : public LanguageModel {
 public:
  // Programmable.
  bool available = true;
  std::vector<Language> languages;
  std::string answer = "answer";
  std::optional<std::string> answerFailure;
  std::vector<FakeStreamStep> streamSteps;
  // Called before each stream step is handed out, with its index; lets a test
  // look at what was written before the stream goes on.
  std::function<void(size_t)> beforeStreamStep;

  // Recorded.
  std::vector<std::string> calls;
  std::vector<std::shared_ptr<FakeSessionRecord>> sessions;

  bool isAvailable() override {
    calls.push_back("isAvailable");
    return available;
  }
  std::vector<Language> supportedLanguages() override {
    calls.push_back("supportedLanguages");
    return languages;
  }
  std::unique_ptr<LanguageModelSession> makeSession(const Transcript& transcript) override {
    calls.push_back("makeSession(transcript)");
    auto record = std::make_shared<FakeSessionRecord>();
    record->fromTranscript = true;
    record->transcript = transcript;
    return track(record);
  }
  std::unique_ptr<LanguageModelSession> makeSession(const std::optional<std::string>& instructions) override {
    calls.push_back("makeSession(instructions)");
    auto record = std::make_shared<FakeSessionRecord>();
    record->instructions = instructions;
    return track(record);
  }

 private:
  class Stream : public ResponseStream {
   public:
    explicit Stream(FakeModel& model) : model_(model) {}
    std::optional<std::string> next() override {
      if (model_.beforeStreamStep) model_.beforeStreamStep(index_);
      if (index_ == model_.streamSteps.size()) return std::nullopt;
      const FakeStreamStep& step = model_.streamSteps[index_++];
      if (step.failure) throw ModelError(*step.failure);
      return step.text;
    }

   private:
    FakeModel& model_;
    size_t index_ = 0;
  };

  class Session : public LanguageModelSession {
   public:
    Session(FakeModel& model, std::shared_ptr<FakeSessionRecord> record) : model_(model), record_(std::move(record)) {}
    std::string respond(const std::string& prompt, const GenerationOptions&) override {
      model_.calls.push_back("respond");
      record_->prompts.push_back(prompt);
      if (model_.answerFailure) throw ModelError(*model_.answerFailure);
      return model_.answer;
    }
    std::unique_ptr<ResponseStream> streamResponse(const std::string& prompt, const GenerationOptions&) override {
      model_.calls.push_back("streamResponse");
      record_->prompts.push_back(prompt);
      return std::make_unique<Stream>(model_);
    }

   private:
    FakeModel& model_;
    std::shared_ptr<FakeSessionRecord> record_;
  };

  std::unique_ptr<LanguageModelSession> track(std::shared_ptr<FakeSessionRecord> record) {
    sessions.push_back(record);
    return std::make_unique<Session>(*this, std::move(record));
  }
};

class FakeModelPlatform : public ModelPlatform {
 public:
  FakeModel model;
  bool recentEnough = true;
  std::vector<std::tuple<int, int, int>> versionQueries;

  LanguageModel& defaultModel() override { return model; }
  bool isOperatingSystemAtLeast(int major, int minor, int patch) override {
    versionQueries.emplace_back(major, minor, patch);
    return recentEnough;
  }
};

}  // namespace orvendel
