#include "tallowick/doctor.h"

#include <string>

#include "common/error_line.h"
#include "tallowick/helper_error.h"

namespace tallowick {

void runDoctor(CalendarPlatform& platform, std::ostream& out) {
  StoreDiagnosis diagnosis = platform.diagnose();
  std::string text;
  // Names and values come from files and from the store: a line break or an
  // escape sequence in them must not forge a line or drive the terminal.
  auto line = [&](const std::string& name, const std::string& value) {
    text += vantrel::oneLine(name + ": " + value);
    text.push_back('\n');
  };
  for (const auto& fact : diagnosis.facts) line(fact.name, fact.value);
  for (const std::string& problem : diagnosis.problems) line("problem", problem);
  const std::string* first = diagnosis.problems.empty() ? nullptr : &diagnosis.problems.front();
  line("verdict", first ? "not usable: " + *first : "usable");
  out << text;
  if (first) throw HelperError::runtime(vantrel::oneLine("The calendar store is not usable: " + *first));
}

}  // namespace tallowick
