#include "orvendel/model/local/http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>

#include "orvendel/model/local/responses.h"

namespace orvendel::local {
// Owners of libcurl handles. Outside the anonymous namespace because
// StreamingPost::Handles, which has external linkage, holds them.
namespace curl_handles {
struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
}  // namespace curl_handles
using Easy = std::unique_ptr<CURL, curl_handles::EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, curl_handles::ListDeleter>;

namespace {

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isLoopbackAddress(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

// The last line of defence: whatever the URL said, never open a socket to
// an address off this machine.
curl_socket_t openLoopbackSocket(void*, curlsocktype, curl_sockaddr* address) {
  if (!isLoopbackAddress(&address->addr)) return CURL_SOCKET_BAD;
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

size_t appendToString(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// The options every transfer shares.
Easy makeEasy(const std::string& url, char* errorBuffer) {
  initCurlOnce();
  Easy easy(curl_easy_init());
  if (!easy) throw HttpFailure("Local model connection failed: libcurl could not start a transfer");
  CURL* h = easy.get();
  errorBuffer[0] = '\0';
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, openLoopbackSocket);
  return easy;
}

curl_slist* withApiKey(curl_slist* list, const std::optional<std::string>& apiKey) {
  if (!apiKey) return list;
  return curl_slist_append(list, ("Authorization: Bearer " + *apiKey).c_str());
}

HeaderList jsonPostHeaders(bool eventStream, const std::optional<std::string>& apiKey) {
  curl_slist* list = curl_slist_append(nullptr, "Content-Type: application/json");
  list = curl_slist_append(list, eventStream ? "Accept: text/event-stream" : "Accept: application/json");
  // No "Expect: 100-continue" round trip for long conversations.
  list = curl_slist_append(list, "Expect:");
  return HeaderList(withApiKey(list, apiKey));
}

void setPostBody(CURL* h, const std::string& body, curl_slist* headers) {
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
}

HttpFailure transferFailure(CURLcode code, const char* errorBuffer) {
  std::string detail = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
  return HttpFailure("Local model connection failed: " + oneLineMessage(detail));
}

HttpResponse perform(CURL* h, const char* errorBuffer) {
  HttpResponse response;
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendToString);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
  CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) throw transferFailure(code, errorBuffer);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace

HttpResponse httpGet(const std::string& url, long totalTimeoutMs, const std::optional<std::string>& apiKey) {
  char errorBuffer[CURL_ERROR_SIZE];
  Easy easy = makeEasy(url, errorBuffer);
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, totalTimeoutMs);
  HeaderList headers(withApiKey(nullptr, apiKey));
  if (headers) curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
  return perform(easy.get(), errorBuffer);
}

HttpResponse httpPostJson(const std::string& url, const std::string& body, const std::optional<std::string>& apiKey) {
  char errorBuffer[CURL_ERROR_SIZE];
  Easy easy = makeEasy(url, errorBuffer);
  HeaderList headers = jsonPostHeaders(false, apiKey);
  setPostBody(easy.get(), body, headers.get());
  return perform(easy.get(), errorBuffer);
}

struct StreamingPost::Handles {
  std::string body;
  char errorBuffer[CURL_ERROR_SIZE];
  Easy easy;
  HeaderList headers;
  CURLM* multi = nullptr;
  bool ended = false;
  std::string arrived;    // filled by the write callback between pumps
  std::string handedOut;  // what the last pump returned

  ~Handles() {
    if (multi) {
      curl_multi_remove_handle(multi, easy.get());
      curl_multi_cleanup(multi);
    }
  }
};

StreamingPost::StreamingPost(const std::string& url, std::string body, const std::optional<std::string>& apiKey)
    : handles_(std::make_unique<Handles>()) {
  Handles& h = *handles_;
  h.body = std::move(body);
  h.easy = makeEasy(url, h.errorBuffer);
  h.headers = jsonPostHeaders(true, apiKey);
  setPostBody(h.easy.get(), h.body, h.headers.get());
  curl_easy_setopt(h.easy.get(), CURLOPT_WRITEFUNCTION, appendToString);
  curl_easy_setopt(h.easy.get(), CURLOPT_WRITEDATA, &h.arrived);
  h.multi = curl_multi_init();
  if (!h.multi) throw HttpFailure("Local model connection failed: libcurl could not start a transfer");
  curl_multi_add_handle(h.multi, h.easy.get());
}

StreamingPost::~StreamingPost() = default;

std::optional<std::string_view> StreamingPost::pump() {
  Handles& h = *handles_;
  if (h.ended) return std::nullopt;
  for (;;) {
    int running = 0;
    CURLMcode mcode = curl_multi_perform(h.multi, &running);
    if (mcode != CURLM_OK) {
      h.ended = true;
      throw HttpFailure(std::string("Local model connection failed: ") + curl_multi_strerror(mcode));
    }
    // Hand out what arrived before looking at the end, so that the last
    // bytes of a transfer are never lost.
    if (!h.arrived.empty()) {
      h.handedOut.swap(h.arrived);
      h.arrived.clear();
      return std::string_view(h.handedOut);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(h.multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      h.ended = true;
      if (message->data.result != CURLE_OK) throw transferFailure(message->data.result, h.errorBuffer);
      return std::nullopt;
    }
    if (running == 0) {
      h.ended = true;
      return std::nullopt;
    }
    mcode = curl_multi_poll(h.multi, nullptr, 0, 1000, nullptr);
    if (mcode != CURLM_OK) {
      h.ended = true;
      throw HttpFailure(std::string("Local model connection failed: ") + curl_multi_strerror(mcode));
    }
  }
}

long StreamingPost::status() const {
  long status = 0;
  curl_easy_getinfo(handles_->easy.get(), CURLINFO_RESPONSE_CODE, &status);
  return status;
}

}  // namespace orvendel::local
