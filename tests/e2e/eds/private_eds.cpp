#include "tests/e2e/eds/private_eds.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/e2e/process.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A daemon in a session of its own, killed with this process if that dies
// first, its output in `log`.
pid_t spawnDaemon(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                  const fs::path& log) {
  std::vector<std::string> vars;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (!env.count(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "DBUS_SESSION_BUS_ADDRESS")
      vars.push_back(entry);
  }
  for (const auto& [name, value] : env) vars.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (std::string& v : vars) envp.push_back(v.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setsid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    int null = ::open("/dev/null", O_RDONLY);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

// SIGTERM to its whole session, then SIGKILL after 2 s.
void stopDaemon(pid_t& pid) {
  if (pid <= 0) return;
  for (int signal : {SIGTERM, SIGKILL}) {
    ::kill(-pid, signal);
    ::kill(pid, signal);
    for (int i = 0; i < 100; ++i) {
      int status;
      if (::waitpid(pid, &status, WNOHANG) != 0) {
        pid = -1;
        return;
      }
      std::this_thread::sleep_for(20ms);
    }
  }
}

template <typename Ready>
bool waitFor(Ready ready, std::chrono::seconds bound) {
  for (auto deadline = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(20ms))
    if (ready()) return true;
  return false;
}

std::string sourceFile(const EdsSource& source, const fs::path& home) {
  std::string text = "[Data Source]\nDisplayName=" + source.title + "\nEnabled=true\nParent=local-stub\n\n" +
                     (source.taskList ? "[Task List]\n" : "[Calendar]\n") + "BackendName=local\nSelected=true\n";
  // A read-only local list is one of a file of its own marked so.
  if (source.readOnly)
    text += "\n[Local Backend]\nCustomFile=file://" + (home / "readonly" / (source.uid + ".ics")).string() +
            "\nWritable=false\n";
  return text;
}

}  // namespace

PrivateBus::PrivateBus(const fs::path& dir, const std::map<std::string, std::string>& env, bool services) {
  fs::path socket = dir / "bus";
  address_ = "unix:path=" + socket.string();
  writeText(dir / "bus.conf", "<busconfig><type>session</type><listen>" + address_ + "</listen><auth>EXTERNAL</auth>" +
                                  (services ? "<standard_session_servicedirs/>" : "") +
                                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  pid_ =
      spawnDaemon({"/usr/bin/dbus-daemon", "--config-file=" + (dir / "bus.conf").string(), "--nofork", "--nopidfile"},
                  env, dir / "bus.log");
  if (!waitFor([&] { return fs::exists(socket); }, 10s)) {
    stopDaemon(pid_);
    throw std::runtime_error("dbus-daemon did not start");
  }
}

PrivateBus::~PrivateBus() { stopDaemon(pid_); }

bool PrivateBus::hasOwner(const std::string& name) const {
  ProcessResult r = runProcess("/usr/bin/dbus-send",
                               {"--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus",
                                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
  return r.out.find("boolean true") != std::string::npos;
}

PrivateEds::PrivateEds(const fs::path& home, std::map<std::string, std::string> env,
                       const std::vector<EdsSource>& sources)
    : bus_(home, env, true) {
  const fs::path data = env.at("XDG_DATA_HOME"), config = env.at("XDG_CONFIG_HOME");
  for (const EdsSource& source : sources) {
    writeText(config / "evolution/sources" / (source.uid + ".source"), sourceFile(source, home));
    fs::path file = source.readOnly   ? home / "readonly" / (source.uid + ".ics")
                    : source.taskList ? data / "evolution/tasks" / source.uid / "tasks.ics"
                                      : data / "evolution/calendar" / source.uid / "calendar.ics";
    writeText(file, source.ics);
  }
  env["DBUS_SESSION_BUS_ADDRESS"] = bus_.address();
  // The registry first: a factory started alone would have the bus start a
  // second one.
  registry_ = spawnDaemon({"/usr/libexec/evolution-source-registry"}, env, home / "registry.log");
  bool up = waitFor([&] { return bus_.hasOwner("org.gnome.evolution.dataserver.Sources5"); }, 20s);
  if (up) {
    factory_ = spawnDaemon({"/usr/libexec/evolution-calendar-factory"}, env, home / "factory.log");
    up = waitFor([&] { return bus_.hasOwner("org.gnome.evolution.dataserver.Calendar8"); }, 20s);
  }
  if (!up) {
    stopDaemon(factory_);
    stopDaemon(registry_);
    throw std::runtime_error("evolution-data-server did not start on " + bus_.address());
  }
}

PrivateEds::~PrivateEds() {
  stopDaemon(factory_);
  stopDaemon(registry_);
}

}  // namespace e2e
