#include "orvendel/doctor.h"

#include <gtest/gtest.h>

#include "orvendel/fake_model.h"
#include "orvendel/helper_error.h"
#include "orvendel/test_support.h"

namespace orvendel {
namespace {

// A model whose diagnosis is given.
struct DiagnosedModel : FakeModel {
  ModelDiagnosis diagnosis;
  ModelDiagnosis diagnose() override { return diagnosis; }
};

struct DiagnosedPlatform : FakeModelPlatform {
  DiagnosedModel diagnosed;
  LanguageModel& defaultModel() override { return diagnosed; }
};

TEST(RunDoctor, OneLinePerFactThenLanguagesAndVerdictFailingWhenNotUsable) {
  DiagnosedPlatform platform;
  platform.diagnosed.languages = {{"en"}, {std::nullopt}, {"de"}};
  platform.diagnosed.diagnosis.facts = {{"endpoint", "http://127.0.0.1:8080"},
                                        {"GET /health", "503: Loading\nverdict: usable \x1B[2J"}};
  platform.diagnosed.diagnosis.problem = "still loading";
  RecordingStream out;
  try {
    runDoctor(platform, out);
    ADD_FAILURE() << "no error";
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::unavailable);
    EXPECT_EQ(e.message(), "The model is not usable: still loading");
  }
  EXPECT_EQ(out.text(),
            "endpoint: http://127.0.0.1:8080\n"
            "GET /health: 503: Loading verdict: usable \xEF\xBF\xBD[2J\n"
            "languages: en, de\n"
            "verdict: not usable: still loading\n");

  // A back end with nothing to tell still gets a verdict.
  FakeModelPlatform plain;
  RecordingStream healthy;
  runDoctor(plain, healthy);
  EXPECT_EQ(healthy.text(), "languages: none\nverdict: usable\n");
}

}  // namespace
}  // namespace orvendel
