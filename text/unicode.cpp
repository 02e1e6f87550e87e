#include "text/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace vantrel::text {
namespace {

bool isAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

const icu::Normalizer2& nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
  return *n;  // ICU's built-in NFC data cannot fail to load.
}

// One character break iterator per thread; ICU iterators are not thread-safe.
icu::BreakIterator& characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> it = [] {
    UErrorCode status = U_ZERO_ERROR;
    return std::unique_ptr<icu::BreakIterator>(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  }();
  return *it;
}

// Walks grapheme boundaries over UTF-8 without copying to UTF-16.
class GraphemeWalker {
 public:
  explicit GraphemeWalker(std::string_view text) : it_(characterIterator()) {
    UErrorCode status = U_ZERO_ERROR;
    utext_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    it_.setText(utext_, status);
  }
  ~GraphemeWalker() { utext_close(utext_); }
  GraphemeWalker(const GraphemeWalker&) = delete;
  GraphemeWalker& operator=(const GraphemeWalker&) = delete;

  icu::BreakIterator& iterator() { return it_; }

 private:
  icu::BreakIterator& it_;
  UText* utext_ = nullptr;
};

bool isBlank(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

bool isWhitespaceOrNewline(UChar32 c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 ||
         u_charType(c) == U_SPACE_SEPARATOR;
}

template <typename Pred>
std::string_view trimBy(std::string_view text, Pred drop) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  int32_t length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c;
    U8_NEXT(s, next, length, c);
    if (c < 0 || !drop(c)) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t prev = end;
    UChar32 c;
    U8_PREV(s, begin, prev, c);
    if (c < 0 || !drop(c)) break;
    end = prev;
  }
  return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

}  // namespace

std::string toNfc(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString normalized =
      nfc().normalize(icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))), status);
  std::string out;
  normalized.toUTF8String(out);
  return out;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAscii(a) && isAscii(b)) return false;
  return toNfc(a) == toNfc(b);
}

size_t graphemeCount(std::string_view text) {
  if (isAscii(text) && text.find('\r') == std::string_view::npos) return text.size();
  GraphemeWalker walker(text);
  size_t count = 0;
  for (int32_t p = walker.iterator().next(); p != icu::BreakIterator::DONE; p = walker.iterator().next()) ++count;
  return count;
}

size_t graphemePrefixBytes(std::string_view text, size_t count) {
  if (count == 0) return 0;
  GraphemeWalker walker(text);
  size_t seen = 0;
  for (int32_t p = walker.iterator().next(); p != icu::BreakIterator::DONE; p = walker.iterator().next()) {
    if (++seen == count) return static_cast<size_t>(p);
  }
  return text.size();
}

bool isGraphemeBoundary(std::string_view text, size_t offset) {
  if (offset == 0 || offset >= text.size()) return true;
  auto byte = static_cast<unsigned char>(text[offset]);
  // Continuation bytes are never boundaries.
  if ((byte & 0xC0) == 0x80) return false;
  // An ASCII character starts a new cluster unless it is the LF of a CR LF.
  if (byte < 0x80 && !(byte == '\n' && text[offset - 1] == '\r')) {
    auto before = static_cast<unsigned char>(text[offset - 1]);
    if (before < 0x80) return true;
  }
  GraphemeWalker walker(text);
  UErrorCode status = U_ZERO_ERROR;
  (void)status;
  return walker.iterator().isBoundary(static_cast<int32_t>(offset));
}

std::string_view trimBlanks(std::string_view text) { return trimBy(text, isBlank); }

std::string_view trimWhitespaceAndNewlines(std::string_view text) { return trimBy(text, isWhitespaceOrNewline); }

}  // namespace vantrel::text
