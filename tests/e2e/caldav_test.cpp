// tallowick and a CalDAV server, synced by vdirsyncer with the configuration
// the README's CalDAV section gives, word for word but for the server's
// address. The server is Debian's Radicale set up as that section says (its
// user made with the README's htpasswd line, its configuration the README's),
// on a free loopback port, in a temporary home; it is filled over HTTP as
// another client would, synced, listed and changed by tallowick, synced back,
// and what arrived is checked on the server. The test starts and stops its own
// server.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kRadicale = "/usr/bin/radicale";
const char* const kVdirsyncer = "/usr/bin/vdirsyncer";
const char* const kHtpasswd = "/usr/bin/htpasswd";
const char* const kUser = "alice";
const char* const kPassword = "s3cret-for-tests";

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The fenced block of `readme` that starts with `open`, without the fence.
std::string readmeBlock(const std::string& readme, const std::string& open) {
  auto start = readme.find(open);
  if (start == std::string::npos) return "";
  start = readme.find('\n', start) + 1;
  return readme.substr(start, readme.find("```", start) - start);
}

// Radicale as a child in a session of its own, killed with the test process
// if that dies first, and stopped (SIGTERM, then SIGKILL) when this goes away.
// It runs as the README starts it, in `home`, but on a free loopback port.
class Radicale {
 public:
  Radicale(const fs::path& dir, const fs::path& home) : log_(dir / "radicale.log") {
    fs::create_directories(dir);
    std::vector<std::string> env{"HOME=" + home.string(), "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::setsid();
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);
      int null = ::open("/dev/null", O_RDONLY);
      int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(null, 0);
      ::dup2(log, 1);
      ::dup2(log, 2);
      ::execle(kRadicale, kRadicale, "--server-hosts", "127.0.0.1:0", "--logging-level", "info",
               static_cast<char*>(nullptr), envp.data());
      ::_exit(127);
    }
    // With port 0 the system picks a free port, and Radicale logs which.
    const std::string marker = "Listening on '[127.0.0.1]:";
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (port_ == 0) {
      std::string text = readText(log_);
      if (auto at = text.find(marker); at != std::string::npos) port_ = std::atoi(text.c_str() + at + marker.size());
      if (port_ != 0) break;
      if (std::chrono::steady_clock::now() > deadline) {
        stop();
        throw std::runtime_error("Radicale did not start: " + text);
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  ~Radicale() { stop(); }

  Radicale(const Radicale&) = delete;
  Radicale& operator=(const Radicale&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  std::string log() const { return readText(log_); }

 private:
  // Politely first; after 3 s for good. Both the group and the process itself,
  // in case it had not made its own session yet.
  void stop() {
    if (pid_ <= 0) return;
    for (int signal : {SIGTERM, SIGKILL}) {
      ::kill(-pid_, signal);
      ::kill(pid_, signal);
      int status;
      for (int i = 0; i < 150; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) != 0) {
          pid_ = -1;
          return;
        }
        std::this_thread::sleep_for(20ms);
      }
    }
  }

  fs::path log_;
  pid_t pid_ = -1;
  int port_ = 0;
};

struct HttpAnswer {
  long status = 0;
  std::string body;
};

// Another CalDAV client: plain requests with the test user's credentials.
HttpAnswer http(const std::string& url, const std::string& method, const std::string& body = "",
                const std::vector<std::string>& headers = {}) {
  CURL* curl = curl_easy_init();
  HttpAnswer answer;
  curl_slist* list = nullptr;
  for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, kUser);
  curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 20000L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  if (!body.empty() || method == "PUT") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) throw std::runtime_error(method + " " + url + ": " + curl_easy_strerror(code));
  return answer;
}

// The content lines of an iCalendar text, unfolded, without line ends.
std::vector<std::string> contentLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty())
      lines.back() += line.substr(1);
    else if (!line.empty())
      lines.push_back(line);
  }
  return lines;
}

std::string propertyName(const std::string& line) { return line.substr(0, line.find_first_of(";:")); }

// The lines of `text` except those whose property is in `names`, sorted: the
// server may write properties in an order of its own.
std::vector<std::string> linesWithout(const std::string& text, const std::vector<std::string>& names) {
  std::vector<std::string> kept;
  for (const auto& line : contentLines(text))
    if (std::find(names.begin(), names.end(), propertyName(line)) == names.end()) kept.push_back(line);
  std::sort(kept.begin(), kept.end());
  return kept;
}

std::vector<std::string> linesNamed(const std::string& text, const std::string& name) {
  std::vector<std::string> found;
  for (const auto& line : contentLines(text))
    if (propertyName(line) == name) found.push_back(line);
  return found;
}

const std::string kEventsOnly = "2f1c-events";
const std::string kHome = "8a9d-home";
const std::string kTasks = "c47e-tasks";

const std::string kDentist =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another Client//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
    "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nTZNAME:CEST\r\nDTSTART:19700329T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
    "BEGIN:VEVENT\r\nUID:dentist-2024\r\nDTSTAMP:20240401T080000Z\r\nSUMMARY:Dentist\r\nLOCATION:Main St 4\r\n"
    "DTSTART;TZID=Europe/Berlin:20240502T093000\r\nDTEND;TZID=Europe/Berlin:20240502T100000\r\n"
    "END:VEVENT\r\nEND:VCALENDAR\r\n";
const std::string kStandup =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another Client//EN\r\n"
    "BEGIN:VEVENT\r\nUID:standup-2024\r\nDTSTAMP:20240401T080000Z\r\nSUMMARY:Standup\r\n"
    "DESCRIPTION:Room 3\r\nDTSTART:20240506T070000Z\r\nDTEND:20240506T071500Z\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\n"
    "END:VEVENT\r\nEND:VCALENDAR\r\n";
const std::string kWater =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another Client//EN\r\n"
    "BEGIN:VTODO\r\nUID:water-plants\r\nDTSTAMP:20240401T080000Z\r\nSUMMARY:Water plants\r\n"
    "STATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
// Everything a rich client writes: an alarm, categories, a relation, its own
// X- properties and a description long enough to be folded.
const std::string kRent =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another Client//EN\r\n"
    "BEGIN:VTODO\r\nUID:pay-rent-2024-05\r\nDTSTAMP:20240401T080000Z\r\nCREATED:20240401T080000Z\r\n"
    "LAST-MODIFIED:20240401T080000Z\r\nSEQUENCE:2\r\nSUMMARY:Pay rent\r\nPRIORITY:5\r\n"
    "DUE:20240501T143000\r\nSTATUS:NEEDS-ACTION\r\nCATEGORIES:Home,Money\r\nRELATED-TO:budget-2024\r\n"
    "X-APPLE-SORT-ORDER:728304000\r\nX-ANOTHER-CLIENT-COLOUR:#3a87ad\r\n"
    "DESCRIPTION:Transfer to the landlord's account before the first\\, and keep the \r\n"
    " receipt in the folder on the shelf.\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Rent is due\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\n"
    "END:VTODO\r\nEND:VCALENDAR\r\n";

// The properties that completing a todo changes; every other one must arrive
// on the server as it was.
const std::vector<std::string> kCompletionProperties = {"STATUS", "COMPLETED", "PERCENT-COMPLETE", "LAST-MODIFIED",
                                                        "SEQUENCE"};

class CalDav : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kRadicale, X_OK) != 0 || ::access(kVdirsyncer, X_OK) != 0 || ::access(kHtpasswd, X_OK) != 0)
      GTEST_SKIP() << "Debian's radicale, vdirsyncer and apache2-utils are not installed: run scripts/setup";
    std::string pattern = (fs::temp_directory_path() / "tallowick-caldav-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    home_ = dir_ / "home";
    fs::create_directories(home_);
    // Only HOME: the README's paths are the defaults under it.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "VDIRSYNCER_CONFIG", "PYTHONPATH",
                             "PYTHONHOME", "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY"})
      options_.env[name] = std::nullopt;
    options_.env["HOME"] = home_.string();
    options_.env["TZ"] = "Europe/Berlin";
    options_.env["LC_ALL"] = "C.UTF-8";
    options_.env["NO_PROXY"] = "127.0.0.1";
    options_.workingDirectory = home_.string();
    options_.timeout = 60s;
    setUpRadicaleFromTheReadme();
    if (HasFatalFailure()) return;
    server_ = std::make_unique<Radicale>(dir_ / "server", home_);
  }

  void TearDown() override {
    if (HasFailure() && server_) std::cerr << "Radicale's log:\n" << server_->log();
    server_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string itemUrl(const std::string& collection, const std::string& name = "") const {
    return server_->url() + kUser + "/" + collection + "/" + name;
  }

  void makeCalendar(const std::string& id, const std::string& title, const std::vector<std::string>& kinds) {
    std::string components;
    for (const auto& kind : kinds) components += "<C:comp name=\"" + kind + "\"/>";
    auto answer = http(itemUrl(id), "MKCALENDAR",
                       "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                       "<C:mkcalendar xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop>"
                       "<D:displayname>" + title + "</D:displayname><C:supported-calendar-component-set>" +
                           components + "</C:supported-calendar-component-set></D:prop></D:set></C:mkcalendar>",
                       {"Content-Type: application/xml; charset=utf-8"});
    ASSERT_EQ(answer.status, 201) << answer.body;
  }

  void put(const std::string& collection, const std::string& name, const std::string& ics) {
    auto answer = http(itemUrl(collection, name), "PUT", ics, {"Content-Type: text/calendar; charset=utf-8"});
    ASSERT_TRUE(answer.status == 201 || answer.status == 204) << answer.status << " " << answer.body;
  }

  std::string get(const std::string& collection, const std::string& name) {
    auto answer = http(itemUrl(collection, name), "GET");
    EXPECT_EQ(answer.status, 200) << collection << "/" << name;
    return answer.body;
  }

  // The item names in a collection on the server, sorted.
  std::vector<std::string> itemsOf(const std::string& collection) {
    auto answer = http(itemUrl(collection), "PROPFIND",
                       "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:getetag/></D:prop></D:propfind>",
                       {"Depth: 1", "Content-Type: application/xml"});
    EXPECT_EQ(answer.status, 207) << answer.body;
    std::vector<std::string> names;
    const std::string prefix = "/" + std::string(kUser) + "/" + collection + "/";
    for (size_t at = 0; (at = answer.body.find("<href>", at)) != std::string::npos;) {
      at += 6;
      std::string href = answer.body.substr(at, answer.body.find("</href>", at) - at);
      if (href.starts_with(prefix) && href.size() > prefix.size()) names.push_back(href.substr(prefix.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The README's user and configuration of Radicale, in this home.
  void setUpRadicaleFromTheReadme() {
    std::string readme = readText(fs::path(SOURCE_DIR) / "README.md");
    std::string config = readmeBlock(readme, "```ini\n[server]\n");
    ASSERT_NE(config, "") << "no Radicale configuration in the README";
    writeText(home_ / ".config/radicale/config", config);
    // The README's htpasswd line asks for the password; -b takes it from the
    // command line instead.
    const std::string command = "htpasswd -c ~/.config/radicale/users " + std::string(kUser);
    ASSERT_NE(readme.find("\n" + command + " "), std::string::npos) << "no htpasswd line in the README";
    e2e::ProcessOptions options = options_;
    auto r = e2e::runProcess("/bin/sh", {"-c", "htpasswd -b -c ~/.config/radicale/users " + std::string(kUser) + " " +
                                                   kPassword},
                             options);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The README's vdirsyncer configuration, pointed at this server.
  void configureVdirsyncerFromTheReadme() {
    std::string readme = readText(fs::path(SOURCE_DIR) / "README.md");
    const std::string open = "```ini\n[general]\n";
    auto start = readme.find(open);
    ASSERT_NE(start, std::string::npos) << "no vdirsyncer configuration in the README";
    start += 7;
    std::string config = readme.substr(start, readme.find("```", start) - start);
    const std::string exampleUrl = "url = \"https://dav.example.com/\"";
    auto url = config.find(exampleUrl);
    ASSERT_NE(url, std::string::npos) << config;
    config.replace(url, exampleUrl.size(), "url = \"" + server_->url() + "\"");
    ASSERT_NE(config.find("username = \"" + std::string(kUser) + "\""), std::string::npos) << config;
    writeText(home_ / ".config/vdirsyncer/config", config);
    writeText(home_ / ".config/vdirsyncer/password", std::string(kPassword) + "\n");
    fs::permissions(home_ / ".config/vdirsyncer/password", fs::perms::owner_read | fs::perms::owner_write);
  }

  void vdirsyncer(const std::string& command, const std::string& input = "") {
    e2e::ProcessOptions options = options_;
    options.input = input;
    auto r = e2e::runProcess(kVdirsyncer, {command}, options);
    ASSERT_FALSE(r.timedOut) << "vdirsyncer " << command << " hung: " << r.err;
    ASSERT_EQ(r.status, 0) << "vdirsyncer " << command << ": " << r.out << r.err;
  }

  std::string tallowick(const std::vector<std::string>& args) {
    auto r = e2e::runProcess(TALLOWICK_BIN, args, options_);
    EXPECT_EQ(r.err, "") << args[0];
    EXPECT_EQ(r.status, 0) << args[0];
    return r.out;
  }

  fs::path dir_, home_;
  std::unique_ptr<Radicale> server_;
  e2e::ProcessOptions options_;
};

TEST_F(CalDav, EventsAndRemindersRoundTripThroughTheServerIntact) {
  // Another client sets up the account: an events-only calendar that sorts
  // first, a calendar of both kinds, and a task list.
  makeCalendar(kEventsOnly, "Events", {"VEVENT"});
  makeCalendar(kHome, "Home", {"VEVENT", "VTODO"});
  makeCalendar(kTasks, "Tasks", {"VTODO"});
  put(kEventsOnly, "standup.ics", kStandup);
  put(kHome, "dentist.ics", kDentist);
  put(kHome, "water.ics", kWater);
  put(kTasks, "rent.ics", kRent);
  ASSERT_FALSE(HasFatalFailure());
  std::map<std::string, std::string> before;
  for (const auto& [collection, name] : std::vector<std::pair<std::string, std::string>>{
           {kEventsOnly, "standup.ics"}, {kHome, "dentist.ics"}, {kHome, "water.ics"}, {kTasks, "rent.ics"}})
    before[collection + "/" + name] = get(collection, name);

  // The README's steps, once.
  configureVdirsyncerFromTheReadme();
  ASSERT_FALSE(HasFatalFailure());
  vdirsyncer("discover", "y\ny\ny\ny\ny\n");
  vdirsyncer("sync");
  vdirsyncer("metasync");
  ASSERT_FALSE(HasFatalFailure());
  writeText(home_ / ".config/vantrel/calendar.json",
            R"({"defaultReminderList": "Tasks", "access": {"events": "full-access", "reminders": "full-access"}})");

  EXPECT_EQ(tallowick({"reminder-lists"}), "[\"Events\",\"Home\",\"Tasks\"]\n");
  EXPECT_EQ(tallowick({"events", "2024-05-01", "2024-05-31"}),
            R"([{"title":"Dentist","startDate":"2024-05-02T09:30:00","endDate":"2024-05-02T10:00:00",)"
            R"("isAllDay":false,"location":"Main St 4","calendar":"Home","notes":""},)"
            R"({"title":"Standup","startDate":"2024-05-06T09:00:00","endDate":"2024-05-06T09:15:00",)"
            R"("isAllDay":false,"location":"","calendar":"Events","notes":"Room 3"},)"
            R"({"title":"Standup","startDate":"2024-05-13T09:00:00","endDate":"2024-05-13T09:15:00",)"
            R"("isAllDay":false,"location":"","calendar":"Events","notes":"Room 3"},)"
            R"({"title":"Standup","startDate":"2024-05-20T09:00:00","endDate":"2024-05-20T09:15:00",)"
            R"("isAllDay":false,"location":"","calendar":"Events","notes":"Room 3"}])"
            "\n");
  EXPECT_EQ(tallowick({"reminders"}),
            R"([{"title":"Water plants","completed":false,"priority":0,"dueDate":"","list":"Home","notes":""},)"
            R"({"title":"Pay rent","completed":false,"priority":5,"dueDate":"2024-05-01T14:30:00","list":"Tasks",)"
            R"("notes":"Transfer to the landlord's account before the first, and keep the receipt in the folder )"
            R"(on the shelf."}])"
            "\n");

  // A list name that matches nothing: the reminder goes to the default list,
  // not to the events-only calendar that sorts first.
  writeText(home_ / "add.json", R"({"title":"Buy stamps","listName":"Post office","priority":1,)"
                                R"("dueDate":"2024-05-03T12:00:00","notes":"Two of them"})");
  EXPECT_EQ(tallowick({"add-reminder", "add.json"}), "{\"ok\":true}\n");
  writeText(home_ / "done.json", R"({"title":"Pay rent","listName":"Tasks"})");
  EXPECT_EQ(tallowick({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  vdirsyncer("sync");
  ASSERT_FALSE(HasFatalFailure());

  // On the server: the new todo in the task list, and nothing else new.
  EXPECT_EQ(itemsOf(kEventsOnly), std::vector<std::string>{"standup.ics"});
  EXPECT_EQ(itemsOf(kHome), (std::vector<std::string>{"dentist.ics", "water.ics"}));
  std::vector<std::string> tasks = itemsOf(kTasks);
  ASSERT_EQ(tasks.size(), 2u);
  std::string added = tasks[0] == "rent.ics" ? tasks[1] : tasks[0];
  std::string stamps = get(kTasks, added);
  EXPECT_EQ(linesNamed(stamps, "SUMMARY"), std::vector<std::string>{"SUMMARY:Buy stamps"});
  EXPECT_EQ(linesNamed(stamps, "DESCRIPTION"), std::vector<std::string>{"DESCRIPTION:Two of them"});
  EXPECT_EQ(linesNamed(stamps, "PRIORITY"), std::vector<std::string>{"PRIORITY:1"});
  EXPECT_EQ(linesNamed(stamps, "DUE"), std::vector<std::string>{"DUE:20240503T120000"});
  EXPECT_EQ(linesNamed(stamps, "STATUS"), std::vector<std::string>{"STATUS:NEEDS-ACTION"});
  ASSERT_EQ(linesNamed(stamps, "UID").size(), 1u);
  EXPECT_EQ(added, linesNamed(stamps, "UID")[0].substr(4) + ".ics");

  // The completion arrived, and every other property of the todo, its alarm
  // included, is as the other client wrote it.
  std::string rent = get(kTasks, "rent.ics");
  EXPECT_EQ(linesNamed(rent, "STATUS"), std::vector<std::string>{"STATUS:COMPLETED"});
  EXPECT_EQ(linesNamed(rent, "PERCENT-COMPLETE"), std::vector<std::string>{"PERCENT-COMPLETE:100"});
  EXPECT_EQ(linesNamed(rent, "SEQUENCE"), std::vector<std::string>{"SEQUENCE:3"});
  ASSERT_EQ(linesNamed(rent, "COMPLETED").size(), 1u);
  EXPECT_TRUE(linesNamed(rent, "COMPLETED")[0].ends_with("Z")) << linesNamed(rent, "COMPLETED")[0];
  EXPECT_EQ(linesWithout(rent, kCompletionProperties), linesWithout(before[kTasks + "/rent.ics"], kCompletionProperties));
  for (const auto& item : {kEventsOnly + "/standup.ics", kHome + "/dentist.ics", kHome + "/water.ics"}) {
    auto slash = item.find('/');
    EXPECT_EQ(get(item.substr(0, slash), item.substr(slash + 1)), before[item]) << item;
  }

  // A conflict: the other client edits a todo that tallowick completes before
  // the next sync. "b wins": the server's version replaces the local one.
  std::string edited = kWater;
  edited.insert(edited.find("END:VTODO"), "DESCRIPTION:Only the ferns\r\nSEQUENCE:1\r\n");
  put(kHome, "water.ics", edited);
  ASSERT_FALSE(HasFatalFailure());
  std::string onServer = get(kHome, "water.ics");
  writeText(home_ / "done.json", R"({"title":"Water plants","listName":"Home"})");
  EXPECT_EQ(tallowick({"complete-reminder", "done.json"}), "{\"ok\":true}\n");
  vdirsyncer("sync");
  EXPECT_EQ(get(kHome, "water.ics"), onServer);
  EXPECT_EQ(tallowick({"reminders"}),
            R"([{"title":"Water plants","completed":false,"priority":0,"dueDate":"","list":"Home",)"
            R"("notes":"Only the ferns"},)"
            R"({"title":"Buy stamps","completed":false,"priority":1,"dueDate":"2024-05-03T12:00:00","list":"Tasks",)"
            R"("notes":"Two of them"}])"
            "\n");
}

}  // namespace
