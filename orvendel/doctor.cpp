#include "orvendel/doctor.h"

#include <string>

#include "common/error_line.h"
#include "orvendel/helper_error.h"

namespace orvendel {

void runDoctor(ModelPlatform& platform, std::ostream& out) {
  LanguageModel& model = platform.defaultModel();
  ModelDiagnosis diagnosis = model.diagnose();
  std::string text;
  auto line = [&](const std::string& name, const std::string& value) { text += vantrel::factLine(name, value); };
  for (const auto& fact : diagnosis.facts) line(fact.name, fact.value);
  std::string codes;
  for (const Language& language : model.supportedLanguages())
    if (language.languageCode) codes += (codes.empty() ? "" : ", ") + *language.languageCode;
  line("languages", codes.empty() ? "none" : codes);
  line("verdict", diagnosis.problem ? "not usable: " + *diagnosis.problem : "usable");
  out << text;
  if (diagnosis.problem)
    throw HelperError::unavailable(vantrel::oneLine("The model is not usable: " + *diagnosis.problem));
}

}  // namespace orvendel
