#include "orvendel/model/local/endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

namespace orvendel::local {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Strict dotted quad: four decimal parts 0-255 without leading zeros, so
// that no resolver can read a part as octal or hex.
std::optional<int> firstOctetOfDottedQuad(std::string_view host) {
  int first = -1;
  for (int part = 0; part < 4; ++part) {
    size_t dot = host.find('.');
    std::string_view piece = part < 3 ? host.substr(0, dot) : host;
    if (part < 3 && dot == std::string_view::npos) return std::nullopt;
    if (!allDigits(piece) || piece.size() > 3 || (piece.size() > 1 && piece[0] == '0')) return std::nullopt;
    int value = std::stoi(std::string(piece));
    if (value > 255) return std::nullopt;
    if (part == 0) first = value;
    if (part < 3) host.remove_prefix(dot + 1);
  }
  return first;
}

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost") return true;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    std::string inner = host.substr(1, host.size() - 2);
    in6_addr address{};
    return inet_pton(AF_INET6, inner.c_str(), &address) == 1 && IN6_IS_ADDR_LOOPBACK(&address);
  }
  auto first = firstOctetOfDottedQuad(host);
  return first && *first == 127;
}

bool isPlainPathChar(unsigned char c) {
  return c > 0x20 && c < 0x7F && c != '?' && c != '#' && c != '%' && c != '\\';
}

}  // namespace

std::string Endpoint::url(std::string_view path) const { return text() + std::string(path); }

std::string Endpoint::text() const {
  std::string out = scheme + "://" + host;
  if (!port.empty()) out += ":" + port;
  return out + basePath;
}

std::optional<Endpoint> parseLoopbackEndpoint(std::string_view text) {
  Endpoint endpoint;
  size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  endpoint.scheme = lower(text.substr(0, schemeEnd));
  if (endpoint.scheme != "http" && endpoint.scheme != "https") return std::nullopt;
  text.remove_prefix(schemeEnd + 3);

  size_t authorityEnd = text.find('/');
  std::string_view authority = text.substr(0, authorityEnd);
  std::string_view path = authorityEnd == std::string_view::npos ? std::string_view() : text.substr(authorityEnd);
  // User info would let "http://127.0.0.1@elsewhere" pass a naive check.
  if (authority.find('@') != std::string_view::npos) return std::nullopt;

  std::string_view hostPart = authority;
  std::string_view portPart;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    hostPart = authority.substr(0, close + 1);
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portPart = rest.substr(1);
      if (portPart.empty()) return std::nullopt;
    }
  } else if (size_t colon = authority.find(':'); colon != std::string_view::npos) {
    hostPart = authority.substr(0, colon);
    portPart = authority.substr(colon + 1);
    if (portPart.empty()) return std::nullopt;
  }
  if (!portPart.empty()) {
    if (!allDigits(portPart) || portPart.size() > 5) return std::nullopt;
    int port = std::stoi(std::string(portPart));
    if (port < 1 || port > 65535) return std::nullopt;
    endpoint.port = std::to_string(port);
  }
  endpoint.host = lower(hostPart);
  if (!isLoopbackHost(endpoint.host)) return std::nullopt;

  if (!std::all_of(path.begin(), path.end(), [](unsigned char c) { return isPlainPathChar(c); })) return std::nullopt;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  if (path.size() >= 3 && path.substr(path.size() - 3) == "/v1") path.remove_suffix(3);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  endpoint.basePath = std::string(path);
  return endpoint;
}

}  // namespace orvendel::local
