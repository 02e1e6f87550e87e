// Stands in for tallowick-eds.so in one test, to put another program's change
// between tallowick's listing of the open tasks and its completion of one:
// the real module ($EDS_REAL_MODULE) answers everything, and right after the
// first listing a second connection to EDS, another client as far as EDS can
// tell, adds a DESCRIPTION to the first task listed.

#include <dlfcn.h>

#include <cstdlib>
#include <memory>

#include "tallowick/store/eds/eds_service.h"

namespace {

using namespace tallowick::eds;

EdsServiceFactory realFactory() {
  void* module = ::dlopen(std::getenv("EDS_REAL_MODULE"), RTLD_NOW | RTLD_LOCAL);
  return module ? reinterpret_cast<EdsServiceFactory>(::dlsym(module, edsServiceFactoryName)) : nullptr;
}

class Meddling final : public EdsService {
 public:
  explicit Meddling(EdsService* real) : real_(real) {}
  EdsAnswer<EdsDone> connect() override { return real_->connect(); }
  EdsAnswer<std::vector<EdsSource>> sources(EdsSourceKind kind) override { return real_->sources(kind); }
  EdsAnswer<std::string> defaultTaskList() override { return real_->defaultTaskList(); }
  EdsAnswer<std::vector<std::vector<EdsComponent>>> eventComponents(const std::vector<std::string>& sources,
                                                                    const std::string& start,
                                                                    const std::string& end) override {
    return real_->eventComponents(sources, start, end);
  }
  EdsAnswer<std::vector<std::vector<EdsComponent>>> openTasks(const std::vector<std::string>& sources) override {
    auto listed = real_->openTasks(sources);
    if (listed.ok() && !listed.value.empty() && !listed.value[0].empty()) {
      std::unique_ptr<EdsService> other(realFactory()(edsServiceInterfaceVersion));
      std::string text = listed.value[0][0].text;
      text.insert(text.rfind("END:VTODO"), "DESCRIPTION:changed by another client\r\n");
      if (!other->connect().ok() || !other->modifyTask(sources[0], text).ok()) listed.error = "the other client failed";
    }
    return listed;
  }
  EdsAnswer<std::vector<std::string>> timezones(const std::string& source, EdsSourceKind kind,
                                                const std::vector<std::string>& tzids) override {
    return real_->timezones(source, kind, tzids);
  }
  EdsAnswer<bool> isReadOnly(const std::string& source, EdsSourceKind kind) override {
    return real_->isReadOnly(source, kind);
  }
  EdsAnswer<std::string> task(const std::string& source, const std::string& uid, const std::string& rid) override {
    return real_->task(source, uid, rid);
  }
  EdsAnswer<EdsDone> createTask(const std::string& source, const std::string& text) override {
    return real_->createTask(source, text);
  }
  EdsAnswer<EdsDone> modifyTask(const std::string& source, const std::string& text) override {
    return real_->modifyTask(source, text);
  }

 private:
  std::unique_ptr<EdsService> real_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) EdsService* tallowick_eds_service_new(int version) {
  EdsServiceFactory factory = realFactory();
  EdsService* real = factory ? factory(version) : nullptr;
  return real ? new Meddling(real) : nullptr;
}
