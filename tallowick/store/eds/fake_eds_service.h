#pragma once
// An in-memory EDS for tests: sources holding component texts, that records
// what it was asked and can play EDS's awkward parts: a source that says it
// is read-only, one that accepts writes and drops them, and any call failing.

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tallowick/store/eds/eds_service.h"

namespace tallowick::eds::testing {

struct FakeSource {
  FakeSource(std::string uid, std::string title, EdsSourceKind kind, std::vector<EdsComponent> components = {},
             std::map<std::string, std::string> zones = {})
      : uid(std::move(uid)),
        title(std::move(title)),
        kind(kind),
        components(std::move(components)),
        zones(std::move(zones)) {}
  std::string uid;
  std::string title;
  EdsSourceKind kind;
  std::vector<EdsComponent> components;
  std::map<std::string, std::string> zones;  // TZID -> VTIMEZONE text
  bool readOnly = false;
  bool dropsWrites = false;
};

struct FakeEds {
  std::vector<FakeSource> sources;
  std::string defaultTaskList;
  std::optional<std::string> failure;  // every call fails with it

  std::vector<std::string> calls;  // "eventComponents(a,b 2024...Z 2024...Z)", "timezones(a X,Y)", ...
  std::vector<std::string> written;

  FakeSource& source(const std::string& uid) {
    for (FakeSource& s : sources)
      if (s.uid == uid) return s;
    throw std::out_of_range(uid);
  }
};

class FakeEdsService : public EdsService {
 public:
  explicit FakeEdsService(FakeEds& eds) : eds_(eds) {}

  EdsAnswer<EdsDone> connect() override { return answer<EdsDone>("connect", {}); }

  EdsAnswer<std::vector<EdsSource>> sources(EdsSourceKind kind) override {
    std::vector<EdsSource> out;
    for (const FakeSource& s : eds_.sources)
      if (s.kind == kind) out.push_back({s.uid, s.title});
    return answer("sources", out);
  }

  EdsAnswer<std::string> defaultTaskList() override { return answer("defaultTaskList", eds_.defaultTaskList); }

  EdsAnswer<std::vector<std::vector<EdsComponent>>> eventComponents(const std::vector<std::string>& sources,
                                                                    const std::string& startUtc,
                                                                    const std::string& endUtc) override {
    return answer("eventComponents(" + joined(sources) + " " + startUtc + " " + endUtc + ")", componentsOf(sources));
  }

  EdsAnswer<std::vector<std::vector<EdsComponent>>> openTasks(const std::vector<std::string>& sources) override {
    return answer("openTasks(" + joined(sources) + ")", componentsOf(sources));
  }

  EdsAnswer<std::vector<std::string>> timezones(const std::string& source, EdsSourceKind,
                                                const std::vector<std::string>& tzids) override {
    std::vector<std::string> out;
    for (const std::string& tzid : tzids) out.push_back(eds_.source(source).zones[tzid]);
    return answer("timezones(" + source + " " + joined(tzids) + ")", out);
  }

  EdsAnswer<bool> isReadOnly(const std::string& source, EdsSourceKind) override {
    return answer("isReadOnly(" + source + ")", eds_.source(source).readOnly);
  }

  EdsAnswer<std::string> task(const std::string& source, const std::string& uid, const std::string& rid) override {
    std::string text;
    for (const EdsComponent& c : eds_.source(source).components)
      if (c.uid == uid && c.rid == rid) text = c.text;
    return answer("task(" + source + " " + uid + ")", text);
  }

  EdsAnswer<EdsDone> createTask(const std::string& source, const std::string& text) override {
    return write("createTask(" + source + ")", source, text);
  }

  EdsAnswer<EdsDone> modifyTask(const std::string& source, const std::string& text) override {
    return write("modifyTask(" + source + ")", source, text);
  }

 private:
  static std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
    return out;
  }

  template <typename T>
  EdsAnswer<T> answer(const std::string& call, T value) {
    eds_.calls.push_back(call);
    if (eds_.failure) return {T{}, *eds_.failure};
    return {std::move(value), ""};
  }

  std::vector<std::vector<EdsComponent>> componentsOf(const std::vector<std::string>& sources) {
    std::vector<std::vector<EdsComponent>> out;
    for (const std::string& s : sources) out.push_back(eds_.source(s).components);
    return out;
  }

  // Keeps the VTODO of the text under the UID of its UID line, as EDS would.
  EdsAnswer<EdsDone> write(const std::string& call, const std::string& source, const std::string& text) {
    eds_.written.push_back(text);
    FakeSource& s = eds_.source(source);
    if (!eds_.failure && !s.dropsWrites) {
      size_t begin = text.find("BEGIN:VTODO"), end = text.find("END:VTODO\r\n") + 11;
      size_t at = text.find("\nUID:") + 5;
      std::string uid = text.substr(at, text.find_first_of("\r\n", at) - at);
      std::erase_if(s.components, [&](const EdsComponent& c) { return c.uid == uid; });
      s.components.push_back({uid, "", text.substr(begin, end - begin)});
    }
    return answer<EdsDone>(call, {});
  }

  FakeEds& eds_;
};

}  // namespace tallowick::eds::testing
