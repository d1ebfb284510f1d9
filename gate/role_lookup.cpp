// The account role lookup: one GET to the appliance's web service on the
// loopback interface, presenting the web user's cookie; the reply's bytes go
// back to the caller (the decision rules), which knows what to make of them.
//
// libcurl is not linked: most runs make no lookup, and loading libcurl with
// the libraries it pulls in would cost most of such a run. The first lookup
// of a run loads "libcurl.so.4" through the program's run-time search path
// and resolves the few easy-interface functions once; curl.h only supplies
// types and constants.
#include "role_lookup.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_file.h"
#include "service_owner.h"
#include "text.h"

namespace {

constexpr size_t kInitialBlock = 4096;
constexpr size_t kUrlSize = 1024;
// A lookup gives up after this long in all, connecting included: a service
// that accepts and never answers must not hold a root process.
constexpr long kLookupMillis = 10000;
// The largest reply taken: an account's role information is a few hundred
// bytes, and whatever answers on the port must not make root hold more.
constexpr size_t kReplyMax = 1 << 20;

struct CurlApi {
  decltype(&curl_global_init) global_init;
  decltype(&curl_global_cleanup) global_cleanup;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_easy_cleanup) easy_cleanup;
};

template <typename F>
bool resolve(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

// Loads libcurl on the first call of the run and keeps it loaded. Null when it
// cannot be loaded; the reason is then in *error (the same on every call).
const CurlApi* curl_api(std::string* error) {
  static CurlApi api;
  static bool tried = false;
  static std::string failure;
  if (!tried) {
    tried = true;
    // RTLD_LAZY binds eagerly all the same every library built with -z now
    // (libcurl, libssl, libcrypto: their tables stay read-only); the others
    // among libcurl's thirty dependencies keep writable tables either way, and
    // binding all their functions up front would cost every lookup ~0.4 ms.
    void* library = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) {
      const char* why = dlerror();
      failure = why != nullptr ? why : "libcurl.so.4: cannot be loaded";
    } else if (!(resolve(library, "curl_global_init", api.global_init) &&
                 resolve(library, "curl_global_cleanup", api.global_cleanup) &&
                 resolve(library, "curl_easy_init", api.easy_init) &&
                 resolve(library, "curl_easy_setopt", api.easy_setopt) &&
                 resolve(library, "curl_easy_perform", api.easy_perform) &&
                 resolve(library, "curl_easy_strerror", api.easy_strerror) &&
                 resolve(library, "curl_easy_cleanup", api.easy_cleanup))) {
      failure = "libcurl.so.4 lacks the easy interface";
      dlclose(library);
    }
  }
  *error = failure;
  return failure.empty() ? &api : nullptr;
}

// A TCP port: one to five decimal digits, 1 to 65535. Anything else in the
// settings could turn the URL towards another host ("1@host:80") or another
// path.
bool port_number(const char* text) {
  const size_t length = strlen(text);
  if (length == 0 || length > 5 || strspn(text, "0123456789") != length) return false;
  const long value = strtol(text, nullptr, 10);
  return value >= 1 && value <= 65535;
}

}  // namespace

// A byte that cannot stand in an HTTP header: CR and LF in the cookie would let
// the caller add header lines of its own to the request.
bool header_safe(const char* text) {
  for (auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (control_byte(*p)) return false;
  }
  return true;
}

// Why no request can be made with these settings (either may be null when
// missing); null when one can.
const char* role_settings_problem(const char* protocol, const char* port) {
  if (protocol == nullptr || port == nullptr)
    return "gives no [http] kelvo_web_protocol and kelvo_web_server";
  if (!port_number(port)) return "gives no port number (1 to 65535) as kelvo_web_server";
  return nullptr;
}

namespace {

// The reply of one lookup, and whether it grew past kReplyMax.
struct Reply {
  url_data data{0, nullptr};
  bool too_big = false;
  ~Reply() { free(data.body); }
};

// A piece that would take the reply past kReplyMax ends the transfer.
size_t sink(char* piece, size_t size, size_t nmemb, void* record) {
  auto* reply = static_cast<Reply*>(record);
  size_t n = 0;
  if (__builtin_mul_overflow(size, nmemb, &n) || n > kReplyMax - reply->data.size) {
    reply->too_big = true;
    return 0;
  }
  return write_data(piece, size, nmemb, &reply->data);
}

// Reads the service's protocol and port, makes the request and releases the
// handle. The settings are read only now, and live until the handle is gone.
void transfer(const CurlApi& api, CURL* curl, const char* cookie, const char* settings_path,
              const Json::Value* service_user, Reply* reply, RoleReply* out) {
  char url[kUrlSize];
  memset(url, 0, sizeof url);
  ConfigFile settings(settings_path);
  const char* protocol = settings.getparam(kSettingsSection, kProtocolKey);
  const char* port = settings.getparam(kSettingsSection, kPortKey);
  if (const char* problem = role_settings_problem(protocol, port)) {
    fprintf(stderr, "corvexin_check: %s %s; role lookup skipped\n", settings_path, problem);
    api.easy_cleanup(curl);
    return;
  }
  ServiceCheck check;
  check.deadline += std::chrono::milliseconds(kLookupMillis);
  out->owner_problem = role_service_user(service_user, &check.user, &check.given);
  if (out->owner_problem != nullptr) {
    api.easy_cleanup(curl);
    return;
  }
  // The check of the service's owner (libcurl 7.80 or later).
  if (api.easy_setopt(curl, CURLOPT_PREREQFUNCTION,
                      static_cast<curl_prereq_callback>(before_request)) != CURLE_OK ||
      api.easy_setopt(curl, CURLOPT_PREREQDATA, &check) != CURLE_OK) {
    out->refusal =
        "libcurl cannot tell who runs the role service (7.80 or later can); role "
        "lookup skipped";
    fprintf(stderr, "corvexin_check: %s\n", out->refusal.c_str());
    api.easy_cleanup(curl);
    return;
  }
  // Only the exact text "https" selects TLS.
  const bool https = strcmp(protocol, "https") == 0;
  (void)snprintf(url, sizeof url, "%s://127.0.0.1:%s/rest/accountroleinfo",
                 https ? "https" : "http", port);
  out->url = url;
  api.easy_setopt(curl, CURLOPT_URL, url);
  if (https) {
    // The service uses a self-made certificate: neither chain nor name is checked.
    api.easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1));
    api.easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    api.easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  api.easy_setopt(curl, CURLOPT_COOKIEFILE, "");
  api.easy_setopt(curl, CURLOPT_COOKIE, cookie);
  api.easy_setopt(curl, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(sink));
  api.easy_setopt(curl, CURLOPT_WRITEDATA, reply);
  // Never through a proxy: libcurl would otherwise take one from http_proxy,
  // https_proxy or ALL_PROXY, which the caller of a set-uid gate chooses, and
  // send the cookie there and take its answer for the role information.
  api.easy_setopt(curl, CURLOPT_PROXY, "");
  api.easy_setopt(curl, CURLOPT_TIMEOUT_MS, kLookupMillis);
  // No signals: the run's own alarm stays the only one.
  api.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  const CURLcode result = api.easy_perform(curl);
  if (result != CURLE_OK) {
    // The cause first, then libcurl's own words.
    const std::string why = !check.refusal.empty() ? check.refusal
                            : reply->too_big       ? "the role service's reply is larger than 1 MiB"
                                                   : api.easy_strerror(result);
    fprintf(stderr, "corvexin_check: role lookup failed: %s\n", why.c_str());
    fprintf(stderr, "curl_easy_perform() failed: %s\n", api.easy_strerror(result));
  }
  api.easy_cleanup(curl);
  out->refusal = check.refusal;
}

// Fills the record with the service's reply, or leaves it holding the empty
// text when no request can be made.
void fetch(const char* cookie, const char* settings_path, const Json::Value* service_user,
           Reply* reply, RoleReply* out) {
  if (!header_safe(cookie)) {
    fputs("corvexin_check: the cookie holds a control character; role lookup skipped\n", stderr);
    return;
  }
  std::string error;
  const CurlApi* api = curl_api(&error);
  if (api == nullptr) {
    fprintf(stderr, "corvexin_check: cannot load libcurl: %s\n", error.c_str());
    return;
  }
  api->global_init(CURL_GLOBAL_ALL);
  if (CURL* curl = api->easy_init())
    transfer(*api, curl, cookie, settings_path, service_user, reply, out);
  api->global_cleanup();
}

}  // namespace

RoleReply fetch_role_reply(const char* cookie, const char* settings_path,
                           const Json::Value* service_user) {
  RoleReply out;
  Reply reply;
  reply.data.body = static_cast<char*>(malloc(kInitialBlock));
  if (reply.data.body == nullptr) {
    fputs("corvexin_check: cannot allocate the reply buffer; role lookup skipped\n", stderr);
    return out;
  }
  reply.data.body[0] = '\0';
  fetch(cookie, settings_path, service_user, &reply, &out);
  out.too_big = reply.too_big;
  out.body.assign(reply.data.body, reply.data.size);
  return out;
}

// Appends one piece of the reply body. The block always holds the whole body
// so far and a NUL behind it. When it cannot grow, it is kept but holds the
// empty text, and the 0 returned makes libcurl abort the transfer.
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data) {
  size_t n = 0;
  const size_t old = data->size;
  char* block = nullptr;
  if (!__builtin_mul_overflow(size, nmemb, &n) && n < SIZE_MAX - old) {
    block = static_cast<char*>(realloc(data->body, old + n + 1));
  }
  if (block == nullptr) {
    if (data->body != nullptr) data->body[0] = '\0';
    data->size = 0;
    fputs("Failed to allocate memory.\n", stderr);
    return 0;
  }
  data->body = block;
  if (n > 0) memcpy(block + old, piece, n);
  data->size = old + n;
  block[data->size] = '\0';
  return n;
}
