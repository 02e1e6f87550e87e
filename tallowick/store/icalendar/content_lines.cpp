#include "tallowick/store/icalendar/content_lines.h"

#include <cctype>

namespace tallowick::ical {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ContentLine::isNamed(std::string_view upperName) const {
  if (name.size() != upperName.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (upper(name[i]) != upperName[i]) return false;
  return true;
}

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = upper(c);
  return out;
}

bool ContentLineReader::next(ContentLine& line) {
  if (pos_ >= text_.size()) return false;
  line = ContentLine{};
  line.begin = pos_;
  auto physical = [&](std::string_view& content, std::string_view& ending) {
    size_t lf = text_.find('\n', pos_);
    size_t stop = lf == std::string_view::npos ? text_.size() : lf;
    size_t contentEnd = stop > pos_ && text_[stop - 1] == '\r' ? stop - 1 : stop;
    content = text_.substr(pos_, contentEnd - pos_);
    ending = text_.substr(contentEnd, (lf == std::string_view::npos ? stop : lf + 1) - contentEnd);
    pos_ = lf == std::string_view::npos ? text_.size() : lf + 1;
  };
  auto continues = [&] { return pos_ < text_.size() && isSpaceOrTab(text_[pos_]); };
  std::string_view content, ending;
  physical(content, ending);
  line.ending = ending;
  if (continues()) {
    joined_.assign(content);
    while (continues()) {
      ++pos_;  // the folding blank
      std::string_view more, unused;
      physical(more, unused);
      joined_.append(more);
    }
    content = joined_;
  }
  line.end = pos_;

  size_t nameEnd = content.find_first_of(";:");
  std::string_view name = content.substr(0, nameEnd);
  while (!name.empty() && isSpaceOrTab(name.back())) name.remove_suffix(1);
  line.name = name;
  if (nameEnd == std::string_view::npos) return true;
  bool quoted = false;
  for (size_t i = nameEnd; i < content.size(); ++i) {
    char c = content[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == ';') {
      ++line.parameterCount;
    } else if (c == ':') {
      line.parameters = content.substr(nameEnd, i - nameEnd);
      line.value = content.substr(i + 1);
      line.hasValue = true;
      break;
    }
  }
  return true;
}

std::string_view trimmedValue(std::string_view s) {
  auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

std::string componentNameOf(const ContentLine& line) {
  if (line.parameterCount > 0) return "?";
  std::string_view value = line.value;
  while (!value.empty() && isSpaceOrTab(value.back())) value.remove_suffix(1);
  return upperAscii(value);
}

}  // namespace tallowick::ical
