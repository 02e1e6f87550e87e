#include "tallowick/doctor.h"

#include <string>

#include "common/error_line.h"
#include "tallowick/helper_error.h"

namespace tallowick {

void runDoctor(CalendarPlatform& platform, std::ostream& out) {
  StoreDiagnosis diagnosis = platform.diagnose();
  std::string text;
  auto line = [&](const std::string& name, const std::string& value) { text += vantrel::factLine(name, value); };
  for (const auto& fact : diagnosis.facts) line(fact.name, fact.value);
  for (const std::string& problem : diagnosis.problems) line("problem", problem);
  const std::string* first = diagnosis.problems.empty() ? nullptr : &diagnosis.problems.front();
  line("verdict", first ? "not usable: " + *first : "usable");
  out << text;
  if (first) throw HelperError::runtime(vantrel::oneLine("The calendar store is not usable: " + *first));
}

}  // namespace tallowick
