// The account role lookup: one GET to the appliance's web service on the
// loopback interface, presenting the web user's cookie; the JSON reply lands
// in group_role.
//
// libcurl is not linked: most runs make no lookup, and loading libcurl with
// the libraries it pulls in would cost most of such a run. The first lookup
// of a run loads "libcurl.so.4" through the program's run-time search path
// and resolves the few easy-interface functions once; curl.h only supplies
// types and constants.
#include "role_lookup.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_file.h"
#include "log.h"
#include "policy.h"
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
// The policy member naming the account, besides root, that may run the service.
constexpr char kServiceUserMember[] = "role_service_user";

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

// A byte that cannot stand in an HTTP header: CR and LF in the cookie would let
// the caller add header lines of its own to the request.
bool header_safe(const char* text) {
  for (auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (control_byte(*p)) return false;
  }
  return true;
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

// The uid of the account named name in /etc/passwd, read as a file (never
// through the name service switch, which would load modules into the
// set-uid gate); false when there is none.
bool named_account(const char* name, uid_t* uid) {
  FILE* accounts = fopen("/etc/passwd", "re");
  if (accounts == nullptr) return false;
  bool found = false;
  while (const passwd* account = fgetpwent(accounts)) {
    if (strcmp(account->pw_name, name) == 0) {
      *uid = account->pw_uid;
      found = true;
      break;
    }
  }
  fclose(accounts);
  return found;
}

}  // namespace

// The policy's "role_service_user": an account name of the password file or
// a uid (a number, or a text of digits that names no account).
const char* role_service_user(const Json::Value& policy, uid_t* uid, bool* given) {
  *given = policy.isObject() && policy.isMember(kServiceUserMember);
  if (!*given) return nullptr;
  const Json::Value& user = policy[kServiceUserMember];
  const char* const wrong = "\"role_service_user\" is neither an account name nor a uid";
  if (user.isString()) {
    const std::string name = user.asString();
    if (named_account(name.c_str(), uid)) return nullptr;
    if (name.empty() || name.size() > 10 ||
        name.find_first_not_of("0123456789") != std::string::npos)
      return wrong;
    const unsigned long long number = strtoull(name.c_str(), nullptr, 10);
    if (number >= UINT32_MAX) return wrong;
    *uid = static_cast<uid_t>(number);
    return nullptr;
  }
  if (!user.isIntegral() || user.asDouble() < 0 || user.asDouble() >= UINT32_MAX) return wrong;
  *uid = static_cast<uid_t>(user.asLargestUInt());
  return nullptr;
}

namespace {

// The socket at the server end of the loopback connection from client to
// server (host byte order ports) as the kernel knows it, asked for with one
// exact NETLINK_SOCK_DIAG lookup: its state and its owner. Null on success,
// else why not.
const char* server_end(in_addr server, int server_port, in_addr client, int client_port,
                       unsigned* state, uid_t* owner) {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return strerror(errno);
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  inet_diag_req_v2& r = message.request;
  r.sdiag_family = AF_INET;
  r.sdiag_protocol = IPPROTO_TCP;
  r.idiag_states = ~0u;
  // The socket whose own end is the server's address, and its peer's ours.
  r.id.idiag_sport = htons(static_cast<uint16_t>(server_port));
  r.id.idiag_dport = htons(static_cast<uint16_t>(client_port));
  memcpy(r.id.idiag_src, &server, sizeof server);
  memcpy(r.id.idiag_dst, &client, sizeof client);
  r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  alignas(nlmsghdr) char answer[8192];
  ssize_t n =
      sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
  if (n >= 0) {
    do n = recv(fd, answer, sizeof answer, 0);
    while (n < 0 && errno == EINTR);
  }
  const int error = errno;
  close(fd);
  if (n < 0) return strerror(error);
  const auto* h = reinterpret_cast<const nlmsghdr*>(answer);
  if (!NLMSG_OK(h, static_cast<size_t>(n))) return "the kernel's answer is cut short";
  if (h->nlmsg_type == NLMSG_ERROR) {
    const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
    return e->error == -ENOENT ? "the kernel knows no such connection" : strerror(-e->error);
  }
  if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
    return "the kernel's answer is not about a socket";
  const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
  if (m->id.idiag_sport != r.id.idiag_sport || m->id.idiag_dport != r.id.idiag_dport ||
      memcmp(m->id.idiag_src, r.id.idiag_src, sizeof server) != 0 ||
      memcmp(m->id.idiag_dst, r.id.idiag_dst, sizeof client) != 0) {
    *state = 0;  // another socket: none the connection reached yet
  } else {
    *state = m->idiag_state;
  }
  *owner = m->idiag_uid;
  return nullptr;
}

// What the check before the request needs and finds.
struct ServiceCheck {
  uid_t user = 0;       // the account named by "role_service_user"
  bool given = false;   // there is one
  std::string refusal;  // why no request was sent; empty while it may be
};

// Called by libcurl once the connection stands (for HTTPS, after the
// handshake) and before anything of the request is sent: the request, and
// with it the cookie, goes only to a service whose socket is root's (or the
// "role_service_user"'s). Whoever can bind the port while the web service is
// down would otherwise get every cookie and answer as it likes. Only an
// established socket tells its owner: the kernel answers for a connection not
// yet accepted (or one already closed) with uid 0, so such an answer is asked
// again for a while.
int before_request(void* check, char* server_ip, char* client_ip, int server_port,
                   int client_port) {
  auto* c = static_cast<ServiceCheck*>(check);
  const std::string where = std::string(server_ip) + ":" + std::to_string(server_port);
  in_addr server{}, client{};
  const char* why = nullptr;
  unsigned state = 0;
  uid_t owner = 0;
  if (inet_pton(AF_INET, server_ip, &server) != 1 || inet_pton(AF_INET, client_ip, &client) != 1) {
    why = "the connection is not one over IPv4";
  } else {
    for (int attempt = 0; attempt < 50; ++attempt) {
      why = server_end(server, server_port, client, client_port, &state, &owner);
      if (why != nullptr || state == TCP_ESTABLISHED) break;
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    }
    if (why == nullptr && state != TCP_ESTABLISHED) why = "its socket is not established";
  }
  if (why != nullptr) {
    c->refusal = "cannot tell who runs the role service on " + where + " (" + why + ")";
  } else if (owner != 0 && !(c->given && owner == c->user)) {
    c->refusal = "the role service on " + where + " is run by uid " + std::to_string(owner) +
                 ", not by root" +
                 (c->given ? " or \"role_service_user\" (uid " + std::to_string(c->user) + ")"
                           : std::string());
  } else {
    return CURL_PREREQFUNC_OK;
  }
  c->refusal += "; request not sent";
  return CURL_PREREQFUNC_ABORT;
}

// Says why the lookup failed, on standard error and in the log.
void lookup_failed(const std::string& why) {
  fprintf(stderr, "corvexin_check: %s\n", why.c_str());
  log_param(why.c_str(), 1);
}

// Reads the service's protocol and port, makes the request and releases the
// handle. The settings are read only now, and live until the handle is gone.
void transfer(const CurlApi& api, CURL* curl, const char* cookie, Reply* reply) {
  char url[kUrlSize];
  memset(url, 0, sizeof url);
  ConfigFile settings(kSettingsPath);
  const char* protocol = settings.getparam(kSettingsSection, kProtocolKey);
  const char* port = settings.getparam(kSettingsSection, kPortKey);
  if (const char* problem = role_settings_problem(protocol, port)) {
    fprintf(stderr, "corvexin_check: %s %s; role lookup skipped\n", kSettingsPath, problem);
    api.easy_cleanup(curl);
    return;
  }
  ServiceCheck check;
  if (const char* wrong = role_service_user(root, &check.user, &check.given)) {
    lookup_failed(std::string(kPolicyPath) + " " + wrong + "; role lookup skipped");
    api.easy_cleanup(curl);
    return;
  }
  // The check of the service's owner (libcurl 7.80 or later).
  if (api.easy_setopt(curl, CURLOPT_PREREQFUNCTION,
                      static_cast<curl_prereq_callback>(before_request)) != CURLE_OK ||
      api.easy_setopt(curl, CURLOPT_PREREQDATA, &check) != CURLE_OK) {
    lookup_failed(
        "libcurl cannot tell who runs the role service (7.80 or later can); role "
        "lookup skipped");
    api.easy_cleanup(curl);
    return;
  }
  // Only the exact text "https" selects TLS.
  const bool https = strcmp(protocol, "https") == 0;
  snprintf(url, sizeof url, "%s://127.0.0.1:%s/rest/accountroleinfo", https ? "https" : "http",
           port);
  if (enable_log) printf("read config test: %s", url);
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
    fprintf(stderr, "curl_easy_perform() failed: %s\n", api.easy_strerror(result));
  }
  api.easy_cleanup(curl);
  if (!check.refusal.empty()) lookup_failed(check.refusal);
}

// Fills the record with the service's reply, or leaves it holding the empty
// text when no request can be made.
void fetch(const char* cookie, Reply* reply) {
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
  if (CURL* curl = api->easy_init()) transfer(*api, curl, cookie, reply);
  api->global_cleanup();
}

}  // namespace

int get_role_right(const char* cookie) {
  Reply reply;
  reply.data.body = static_cast<char*>(malloc(kInitialBlock));
  if (reply.data.body == nullptr) {
    fputs("corvexin_check: cannot allocate the reply buffer; role lookup skipped\n", stderr);
  } else {
    reply.data.body[0] = '\0';
    fetch(cookie, &reply);
  }
  if (reply.too_big) {
    // Logged (cut) like any reply, and never taken.
    log_text(reply.data.body, 0);
    fputs("corvexin_check: the role service's reply is larger than 1 MiB; not used\n", stderr);
    return 0;
  }
  take_role_reply(reply.data.body != nullptr ? reply.data.body : "");
  return 0;
}
