#pragma once
// What a calendar file may hold and still be handed to libical, judged from
// its text alone, so that the verdict is the same on every machine and every
// run and parsing costs time linear in the file's size.
//
// libical's parser has two costs that grow faster than the text: it recurses
// once per level of nested components (freeing and copying them too), and
// for every property whose value it cannot read it walks all the properties
// its component has so far, to remove that one again (a component of 20,000
// unreadable dates takes a second, of 40,000 four). Long lines cost it the
// square of their length too; that is met by folding them before it reads
// them, which changes nothing of their meaning.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::ical {

struct ParseLimits {
  size_t bytes = size_t{64} << 20;  // real calendar files stay far below
  size_t parametersPerLine = 100;   // a real line has a handful; libical reads 100
  size_t nesting = 50;              // a real file nests four deep
  // Unreadable values times the properties of their component, summed over
  // the components: about a quarter of a second of libical's time at most.
  uint64_t removalWork = 4'000'000;
};

// The first limit the text goes beyond, in a person's words ("nested more
// than 50 components deep"); nothing when it stays within them.
std::optional<std::string> limitExceeded(std::string_view text, const ParseLimits& limits);
inline bool withinLimits(std::string_view text, const ParseLimits& limits) { return !limitExceeded(text, limits); }

// Whether libical surely reads this value of this property (name in upper
// case) without dropping the property; false when unsure. `valueType` is the
// VALUE parameter, empty without one.
bool surelyReadable(std::string_view upperName, std::string_view valueType, std::string_view value);

}  // namespace tallowick::ical
