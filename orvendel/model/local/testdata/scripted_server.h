#pragma once
// Test-only: starts scripted_server.py on a free loopback port with answers
// described here, and reads back what it was asked. Header-only so that both
// the model's tests and the end-to-end tests can use it.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace scripted {

// One answer of the server: a status, then its body in separate writes.
struct Answer {
  int status = 200;
  std::string contentType = "text/event-stream";
  std::string framing = "chunked";  // "chunked", "length" or "close"
  std::string end = "complete";     // "complete", "close", "reset" or "hang"
  nlohmann::json parts = nlohmann::json::array();

  // One write of these bytes.
  Answer& send(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
      hex += digits[c >> 4];
      hex += digits[c & 15];
    }
    parts.push_back(hex);
    return *this;
  }
  // Hold the rest until ScriptedServer::release().
  Answer& wait() {
    parts.push_back({{"wait", true}});
    return *this;
  }
  Answer& endWith(std::string how) {
    end = std::move(how);
    return *this;
  }

  static Answer json(int status, const std::string& body) {
    Answer answer;
    answer.status = status;
    answer.contentType = "application/json";
    answer.framing = "length";
    return answer.send(body);
  }
};

struct Request {
  std::string method;
  std::string path;
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string testdataPath(const std::string& name) {
  return std::string(SOURCE_DIR) + "/orvendel/model/local/testdata/" + name;
}

class ScriptedServer {
 public:
  // `routes` maps "METHOD /path" to its answer; `options` are more of the
  // server's command-line options, such as {"--api-key", "k"}.
  explicit ScriptedServer(const std::map<std::string, Answer>& routes, const std::vector<std::string>& options = {}) {
    nlohmann::json script = nlohmann::json::object();
    for (const auto& [route, answer] : routes)
      script[route] = {{"status", answer.status},     {"content_type", answer.contentType},
                       {"framing", answer.framing},   {"end", answer.end},
                       {"parts", answer.parts}};
    char name[] = "/tmp/scripted-server-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    scriptPath_ = name;
    std::ofstream(scriptPath_) << script.dump();

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string server = testdataPath("scripted_server.py");
    std::vector<std::string> args = {"python3", server, "--port", "0", "--script", scriptPath_};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    if (rc != 0) throw std::runtime_error("cannot start python3");
    auto first = readLine(10000);
    if (!first) throw std::runtime_error("scripted server did not start");
    port_ = std::stoi(*first);
  }

  ~ScriptedServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) ::close(stdin_);
    if (stdout_ >= 0) ::close(stdout_);
    std::remove(scriptPath_.c_str());
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Lets one held answer go on.
  void release() {
    [[maybe_unused]] ssize_t n = ::write(stdin_, "\n", 1);
  }

  // The requests logged so far. The server logs each one before answering
  // it, so every request that has seen an answer is here.
  std::vector<Request> requests() {
    while (auto line = readLine(0)) {
      auto entry = nlohmann::json::parse(*line);
      log_.push_back({entry["method"], entry["path"], entry["body"],
                      entry.value("headers", std::map<std::string, std::string>())});
    }
    return log_;
  }

 private:
  std::optional<std::string> readLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (auto end = pending_.find('\n'); end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      // Once part of a line is here, the rest follows at once.
      int wait = pending_.empty() ? static_cast<int>(std::max<long>(
                                        0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                               deadline - std::chrono::steady_clock::now())
                                               .count()))
                                  : 5000;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, wait) <= 0) return std::nullopt;
      char buffer[65536];
      ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int port_ = 0;
  std::string scriptPath_;
  std::string pending_;
  std::vector<Request> log_;
};

// A loopback port that accepts connections but never answers: a runtime
// that hangs.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A loopback port with nothing listening on it.
inline int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Whether something accepts connections on this loopback port.
inline bool listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace scripted
