#pragma once
// Where the local model runtime listens. Only loopback endpoints are accepted:
// the conversation must never leave the machine, so anything we cannot prove
// to be loopback from the text alone (a host name other than localhost,
// user info, shorthand or octal IPv4 forms) is refused.

#include <optional>
#include <string>
#include <string_view>

namespace orvendel::local {

struct Endpoint {
  std::string scheme;    // "http" or "https"
  std::string host;      // as it goes into a URL: "127.0.0.1", "localhost", "[::1]"
  std::string port;      // digits; empty for the scheme's default
  std::string basePath;  // "" or "/prefix", without a trailing slash

  // The URL of `path` (which starts with '/') on this endpoint.
  std::string url(std::string_view path) const;
  // The endpoint as written back for messages: scheme, host, port, base path.
  std::string text() const;
};

// Parses `text` as an http(s) URL on loopback (127.0.0.0/8, ::1, localhost).
// A trailing "/v1" is dropped, since runtimes document their base URL with it
// and we add the API paths ourselves. Returns nothing for anything else.
std::optional<Endpoint> parseLoopbackEndpoint(std::string_view text);

}  // namespace orvendel::local
