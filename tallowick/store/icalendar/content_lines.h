#pragma once
// The content lines of an iCalendar text, read the way libical's parser
// reads them, so that what is read here (exact texts, the place of a todo to
// complete, the shape checks before parsing) lines up with libical's tree.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallowick::ical {

// One logical line: physical lines joined where a line break is followed by
// a space or tab (the folding blank is dropped), line ends (CRLF or LF)
// removed.
struct ContentLine {
  size_t begin = 0;         // offset of its first byte in the text
  size_t end = 0;           // offset one past its last line break
  std::string_view ending;  // the break of its first physical line: "\r\n", "\n", or "" at the end
  std::string_view name;    // as written, blanks after it removed ("BEGIN :VTODO" is a BEGIN)
  std::string_view parameters;  // from the first ";" after the name up to that colon; empty without
  std::string_view value;   // after the first colon outside a quoted parameter value
  bool hasValue = false;    // whether there is such a colon
  size_t parameterCount = 0;  // how many parameters the name has (";" outside quotes)

  // Whether the name is `upperName`, in any case.
  bool isNamed(std::string_view upperName) const;
};

// Reads the lines of a text in order, in time linear in its size. The views
// of a line stay valid until the next call of next(), and the text must
// outlive the reader.
class ContentLineReader {
 public:
  explicit ContentLineReader(std::string_view text) : text_(text) {}
  bool next(ContentLine& line);
  // How far the reader got, in bytes.
  size_t position() const { return pos_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  std::string joined_;
};

// A component name as a BEGIN or END line gives it (trailing blanks removed,
// upper case); "?" when the line has parameters, which libical reads as some
// other component.
std::string componentNameOf(const ContentLine& line);

// Without the white space (isspace) at either end, as libical trims values.
std::string_view trimmedValue(std::string_view text);

// Upper case of ASCII letters; other bytes as they are.
std::string upperAscii(std::string_view text);

}  // namespace tallowick::ical
