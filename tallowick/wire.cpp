#include "tallowick/wire.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>

#include "common/error_line.h"
#include "common/job.h"
#include "common/json_document.h"
#include "common/request_file.h"
#include "tallowick/helper_error.h"
#include "text/json_string.h"
#include "text/utf8.h"

namespace tallowick {
namespace {

using vantrel::text::appendJsonString;

// Members are written as `"name":value` joined by commas.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ~ObjectWriter() { out_.push_back('}'); }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  void text(std::string_view name, std::string_view value) {
    key(name);
    appendJsonString(out_, value);
  }
  void boolean(std::string_view name, bool value) {
    key(name);
    out_ += value ? "true" : "false";
  }
  void integer(std::string_view name, int64_t value) {
    key(name);
    out_ += std::to_string(value);
  }

 private:
  void key(std::string_view name) {
    if (!first_) out_.push_back(',');
    first_ = false;
    // Member names are this program's own ASCII words: nothing to escape.
    out_.push_back('"');
    out_.append(name);
    out_ += "\":";
  }
  std::string& out_;
  bool first_ = true;
};

void appendValue(std::string& out, const CalendarEventDTO& e) {
  ObjectWriter o(out);
  o.text("title", e.title);
  o.text("startDate", e.startDate);
  o.text("endDate", e.endDate);
  o.boolean("isAllDay", e.isAllDay);
  o.text("location", e.location);
  o.text("calendar", e.calendar);
  o.text("notes", e.notes);
}

void appendValue(std::string& out, const ReminderDTO& r) {
  ObjectWriter o(out);
  o.text("title", r.title);
  o.boolean("completed", r.completed);
  o.integer("priority", r.priority);
  o.text("dueDate", r.dueDate);
  o.text("list", r.list);
  o.text("notes", r.notes);
}

void appendValue(std::string& out, const std::string& s) { appendJsonString(out, s); }

template <typename T>
std::string arrayText(const std::vector<T>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    appendValue(out, items[i]);
  }
  out.push_back(']');
  return out;
}

void print(std::ostream& out, std::string document) {
  if (!vantrel::text::isValidUtf8(document)) throw HelperError::runtime("Failed to encode response");
  document.push_back('\n');
  out << document;
  if (!out) throw vantrel::OutputWriteError(errno);
}

// ---- decoding ----

class Decoder {
 public:
  Decoder(const std::string& bytes, const std::string& path) : path_(path) {
    try {
      json_ = vantrel::parseJsonDocument(bytes);
    } catch (const vantrel::JsonParseError& e) {
      fail(e.what());
    }
    if (!json_.is_object()) fail(std::string("the top level must be an object, not ") + article(json_));
  }

  std::string requiredText(const char* name) {
    const auto* value = member(name);
    if (value == nullptr) fail(quoted(name) + " is missing");
    return text(name, *value);
  }

  // A missing member and null both mean none.
  std::optional<std::string> optionalText(const char* name) {
    const auto* value = member(name);
    if (value == nullptr || value->is_null()) return std::nullopt;
    return text(name, *value);
  }

  // Any integer that fits 64 bits; a number written with a fraction or an
  // exponent counts when its value is whole, as Foundation's decoder does.
  int64_t requiredInteger(const char* name) {
    const auto* value = member(name);
    if (value == nullptr) fail(quoted(name) + " is missing");
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<int64_t>();
    if (value->is_number_unsigned()) {
      auto u = value->get<uint64_t>();
      if (u <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(u);
      fail(quoted(name) + " does not fit a 64-bit integer");
    }
    if (value->is_number_float()) {
      double d = value->get<double>();
      if (d != std::trunc(d)) fail(quoted(name) + " must be an integer");
      if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0))
        fail(quoted(name) + " does not fit a 64-bit integer");
      return static_cast<int64_t>(d);
    }
    fail(quoted(name) + " must be an integer, not " + article(*value));
  }

 private:
  const nlohmann::json* member(const char* name) const {
    auto it = json_.find(name);
    return it == json_.end() ? nullptr : &*it;
  }

  std::string text(const char* name, const nlohmann::json& value) {
    if (!value.is_string()) fail(quoted(name) + " must be a string, not " + article(value));
    return value.get<std::string>();
  }

  static std::string quoted(const char* name) { return std::string("member \"") + name + "\""; }

  static std::string article(const nlohmann::json& value) {
    switch (value.type()) {
      case nlohmann::json::value_t::null: return "null";
      case nlohmann::json::value_t::object: return "an object";
      case nlohmann::json::value_t::array: return "an array";
      case nlohmann::json::value_t::string: return "a string";
      case nlohmann::json::value_t::boolean: return "a boolean";
      default: return "a number";
    }
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw RequestDecodeError(vantrel::oneLine("Invalid request file " + path_ + ": " + what));
  }

  const std::string& path_;
  nlohmann::json json_;
};

}  // namespace

void encode(std::ostream& out, const std::vector<CalendarEventDTO>& events) {
  EventListWriter document(out);
  for (const CalendarEventDTO& e : events)
    for (const std::string* text : {&e.title, &e.startDate, &e.endDate, &e.location, &e.calendar, &e.notes})
      document.check(*text);
  for (const CalendarEventDTO& event : events) document.add(event);
  document.finish();
}

EventListWriter::EventListWriter(std::ostream& out) : out_(out), pending_("[") {}

void EventListWriter::check(std::string_view text) {
  if (!vantrel::text::isValidUtf8(text)) throw HelperError::runtime("Failed to encode response");
}

void EventListWriter::add(const CalendarEventDTO& event) {
  if (!empty_) pending_.push_back(',');
  empty_ = false;
  appendValue(pending_, event);
  if (pending_.size() >= (1 << 20)) flush();
}

void EventListWriter::finish() {
  pending_ += "]\n";
  flush();
}

void EventListWriter::flush() {
  out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  if (!out_) throw vantrel::OutputWriteError(errno);
  pending_.clear();
}

void encode(std::ostream& out, const std::vector<ReminderDTO>& reminders) { print(out, arrayText(reminders)); }
void encode(std::ostream& out, const std::vector<std::string>& titles) { print(out, arrayText(titles)); }

void encode(std::ostream& out, const AccessResponseDTO& access) {
  std::string text;
  {
    ObjectWriter o(text);
    o.boolean("granted", access.granted);
  }
  print(out, text);
}

void encode(std::ostream& out, const SuccessDocument& document) {
  std::string text;
  {
    ObjectWriter o(text);
    for (const auto& [name, value] : document) o.boolean(name, value);
  }
  print(out, text);
}

AddReminderRequest decodeAddReminderRequest(const std::string& bytes, const std::string& path) {
  Decoder d(bytes, path);
  AddReminderRequest r;
  r.title = d.requiredText("title");
  r.listName = d.requiredText("listName");
  r.dueDate = d.optionalText("dueDate");
  r.priority = d.requiredInteger("priority");
  r.notes = d.optionalText("notes");
  return r;
}

CompleteReminderRequest decodeCompleteReminderRequest(const std::string& bytes, const std::string& path) {
  Decoder d(bytes, path);
  CompleteReminderRequest r;
  r.title = d.requiredText("title");
  r.listName = d.requiredText("listName");
  return r;
}

AddReminderRequest readAddReminderRequest(const std::string& path) {
  return decodeAddReminderRequest(vantrel::readRequestFile(path), path);
}

CompleteReminderRequest readCompleteReminderRequest(const std::string& path) {
  return decodeCompleteReminderRequest(vantrel::readRequestFile(path), path);
}

}  // namespace tallowick
