#pragma once
// The HTTP side of the local model, on libcurl. Every transfer is pinned to
// loopback: no proxy (libcurl honours http_proxy even for 127.0.0.1), no
// redirects, and a socket is only opened to a loopback address whatever a
// name resolved to. Connecting gives up quickly: on loopback a runtime that
// is there answers at once.
//
// `apiKey`, when given, goes out as "Authorization: Bearer <key>" and nowhere
// else: not in the URL, the body or any error text.
//
// Not thread-safe; one transfer at a time per object.

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvendel::local {

inline constexpr long kConnectTimeoutMs = 200;

// The transfer itself failed (refused, reset, timed out). what() is one line.
class HttpFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpResponse {
  long status = 0;
  std::string body;
};

// A GET that gives up after `totalTimeoutMs`. Throws HttpFailure.
HttpResponse httpGet(const std::string& url, long totalTimeoutMs, const std::optional<std::string>& apiKey);

// A POST of a JSON body without a total time limit: generation takes as long
// as it takes. Throws HttpFailure.
HttpResponse httpPostJson(const std::string& url, const std::string& body, const std::optional<std::string>& apiKey);

// A POST of a JSON body whose response body is read piece by piece as it
// arrives. The request starts with the first pump().
class StreamingPost {
 public:
  StreamingPost(const std::string& url, std::string body, const std::optional<std::string>& apiKey);
  ~StreamingPost();
  StreamingPost(const StreamingPost&) = delete;
  StreamingPost& operator=(const StreamingPost&) = delete;

  // Waits until body bytes arrive and returns them (valid until the next
  // call), or returns nothing once the transfer has ended. Throws
  // HttpFailure when the transfer failed.
  std::optional<std::string_view> pump();

  // The HTTP status; 0 until the headers have arrived.
  long status() const;

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace orvendel::local
