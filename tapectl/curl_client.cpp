// The daemon's REST API over libcurl.
#include "tapectl/curl_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace tapectl {

namespace {

struct Easy_Deleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct Url_Deleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct List_Deleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct Text_Deleter {
  void operator()(char* p) const { curl_free(p); }
};

// What the transfer callbacks fill.
struct Transfer {
  std::string body;
  bool request_sent = false;  // some of the request's head left the socket
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->body.append(data, size * count);
  return size * count;
}

// libcurl reports each piece of the request's head here once it has been
// written to the connection: from then on the daemon may act on it.
int on_debug(CURL*, curl_infotype type, char*, size_t, void* user) {
  if (type == CURLINFO_HEADER_OUT) static_cast<Transfer*>(user)->request_sent = true;
  return 0;
}

std::unique_ptr<char, Text_Deleter> url_part(CURLU* u, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(u, part, &text, 0) != CURLUE_OK) text = nullptr;
  return std::unique_ptr<char, Text_Deleter>(text);
}

}  // namespace

bool check_base_url(const std::string& url, std::string& error) {
  std::unique_ptr<CURLU, Url_Deleter> u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    error = "not a URL of the form http[s]://HOST[:PORT][/PREFIX]";
    return false;
  }
  const auto scheme = url_part(u.get(), CURLUPART_SCHEME);
  const std::string s = scheme ? scheme.get() : "";
  if (s != "http" && s != "https") {
    error = "the URL must start with http:// or https://";
    return false;
  }
  if (url_part(u.get(), CURLUPART_QUERY) || url_part(u.get(), CURLUPART_FRAGMENT) ||
      url_part(u.get(), CURLUPART_USER)) {
    error = "the URL must hold no query, fragment or user name";
    return false;
  }
  return true;
}

Http_Result http_call(const Http_Request& request) {
  Http_Result r;
  std::unique_ptr<CURL, Easy_Deleter> curl(curl_easy_init());
  if (!curl) {
    r.error = "libcurl could not start";
    return r;
  }
  std::string base = request.base_url;
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::string url = base + request.path;

  std::unique_ptr<curl_slist, List_Deleter> headers;
  auto add_header = [&headers](const std::string& h) {
    curl_slist* l = curl_slist_append(headers.get(), h.c_str());
    if (l) {
      headers.release();
      headers.reset(l);
    }
  };
  add_header("Accept: application/json");
  if (!request.token.empty()) add_header("Authorization: Bearer " + request.token);

  Transfer transfer;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "tapectl");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  // A proxy from the environment serves remote daemons only: the local
  // one is reached directly, so its token never passes through a proxy.
  const char* env_no_proxy = std::getenv("no_proxy");
  if (env_no_proxy == nullptr) env_no_proxy = std::getenv("NO_PROXY");
  std::string no_proxy = "localhost,127.0.0.1,::1";
  if (env_no_proxy != nullptr && *env_no_proxy) no_proxy += std::string(",") + env_no_proxy;
  curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, request.timeout_seconds * 1000L);
  if (!request.ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.ca_file.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &on_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &on_debug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);  // feeds on_debug only, prints nothing
  if (request.method == "POST" || !request.body.empty()) {
    add_header("Content-Type: application/json");
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  if (request.method != "GET" && request.method != "POST")
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  char message[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);

  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK) {
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
    r.outcome = Call_Outcome::ANSWERED;
    r.body.swap(transfer.body);
    return r;
  }
  r.error = message[0] ? message : curl_easy_strerror(rc);
  r.outcome = transfer.request_sent ? Call_Outcome::NO_ANSWER : Call_Outcome::NOT_SENT;
  return r;
}

}  // namespace tapectl
