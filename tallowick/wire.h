#pragma once
// What crosses the process boundary: the request files the host writes, and
// the one JSON document a successful run prints.

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick {

struct CalendarEventDTO {
  std::string title;
  std::string startDate;
  std::string endDate;
  bool isAllDay = false;
  std::string location;
  std::string calendar;
  std::string notes;
};

struct ReminderDTO {
  std::string title;
  bool completed = false;
  int64_t priority = 0;
  std::string dueDate;
  std::string list;
  std::string notes;
};

struct AccessResponseDTO {
  bool granted = false;
};

struct AddReminderRequest {
  std::string title;
  std::string listName;
  std::optional<std::string> dueDate;
  int64_t priority = 0;
  std::optional<std::string> notes;
};

struct CompleteReminderRequest {
  std::string title;
  std::string listName;
};

// The document add-reminder and complete-reminder print: {"ok":true}.
using SuccessDocument = std::map<std::string, bool>;
inline SuccessDocument successDocument() { return {{"ok", true}}; }

// Writes the document as one compact JSON line. Throws
// HelperError::runtime("Failed to encode response") when the text would not be
// valid UTF-8; nothing is written then.
void encode(std::ostream& out, const std::vector<CalendarEventDTO>& events);

// The events document written as encode() writes it, but piece by piece,
// so that a listing of millions is never held as text. Every text is
// checked before the first event is added, so that on invalid UTF-8 nothing
// has been written.
class EventListWriter {
 public:
  explicit EventListWriter(std::ostream& out);
  // Throws HelperError::runtime("Failed to encode response") when the text
  // is not valid UTF-8. Only before the first add().
  void check(std::string_view text);
  void add(const CalendarEventDTO& event);
  // Ends the document. Throws vantrel::OutputWriteError when stdout refuses.
  void finish();

 private:
  void flush();
  std::ostream& out_;
  std::string pending_;
  bool empty_ = true;
};

void encode(std::ostream& out, const std::vector<ReminderDTO>& reminders);
void encode(std::ostream& out, const std::vector<std::string>& titles);
void encode(std::ostream& out, const AccessResponseDTO& access);
void encode(std::ostream& out, const SuccessDocument& document);

// A request file that is not the JSON the record needs. what() is one line
// naming the file and what is wrong with it.
class RequestDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Read the whole file and decode it. Throw vantrel::RequestFileError when the
// file cannot be read and RequestDecodeError when it does not decode.
AddReminderRequest readAddReminderRequest(const std::string& path);
CompleteReminderRequest readCompleteReminderRequest(const std::string& path);

// The decoding step alone; `path` only names the file in messages.
AddReminderRequest decodeAddReminderRequest(const std::string& bytes, const std::string& path);
CompleteReminderRequest decodeCompleteReminderRequest(const std::string& bytes, const std::string& path);

}  // namespace tallowick
