// Who may answer the role lookup: the role service's socket must be root's,
// or the account the policy names in "role_service_user". The cookie goes to
// no other owner.
#include "service_owner.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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
  (void)fclose(accounts);
  return found;
}

}  // namespace

// The policy's "role_service_user": an account name of the password file or
// a uid (a number, or a text of digits that names no account).
const char* role_service_user(const Json::Value* rule, uid_t* uid, bool* given) {
  *given = rule != nullptr;
  if (!*given) return nullptr;
  const Json::Value& user = *rule;
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
// exact NETLINK_SOCK_DIAG lookup: its state, its owner and its inode (0 while
// no process has accepted it). Null on success, else why not.
struct ServerEnd {
  unsigned state = 0;  // 0: the kernel answered for another socket (the listener)
  uid_t owner = 0;
  unsigned inode = 0;
};
const char* server_end(in_addr server, int server_port, in_addr client, int client_port,
                       ServerEnd* end) {
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
    *end = ServerEnd();  // another socket: the connection is not (or no longer) there
  } else {
    end->state = m->idiag_state;
    end->owner = m->idiag_uid;
    end->inode = m->idiag_inode;
  }
  return nullptr;
}

// How long a connection that is not (or no longer) in the server's queue is
// asked about again: a connection the server closed at once never comes back.
constexpr std::chrono::milliseconds kGoneWait{50};
// A handshake's server end that the kernel keeps as a request, not yet a socket.
constexpr unsigned kNewSynRecv = 12;
// The first pause between two questions, doubled after each up to the last.
constexpr std::chrono::microseconds kFirstPause{20}, kLongestPause{10000};

// The server end of the connection once a process has accepted it (its state
// established, an inode of its own), waited for with growing pauses: a
// connection in the listener's queue bears the uid of whoever created the
// listener, and a socket passed on to another account (a server's master
// that listens as root, its workers that accept as another account) tells
// who answers only once accepted. Null when accepted, else why not.
const char* accepted_end(in_addr server, int server_port, in_addr client, int client_port,
                         std::chrono::steady_clock::time_point deadline, ServerEnd* end) {
  using std::chrono::steady_clock;
  const auto started = steady_clock::now();
  for (std::chrono::microseconds pause = kFirstPause;; pause = std::min(pause * 2, kLongestPause)) {
    if (const char* why = server_end(server, server_port, client, client_port, end)) return why;
    if (end->state == TCP_ESTABLISHED && end->inode != 0) return nullptr;
    // Established but not yet accepted, or the handshake still under way.
    const bool queued =
        end->state == TCP_ESTABLISHED || end->state == TCP_SYN_RECV || end->state == kNewSynRecv;
    const auto now = steady_clock::now();
    if (now + pause > (queued ? deadline : started + kGoneWait))
      return queued ? "its connection was not accepted within the lookup's time limit"
                    : "its socket is not established";
    const timespec wait{0, static_cast<long>(pause.count()) * 1000};
    nanosleep(&wait, nullptr);
  }
}

}  // namespace

// Called by libcurl once the connection stands (for HTTPS, after the
// handshake) and before anything of the request is sent: the request, and
// with it the cookie, goes only to a service whose socket is root's (or the
// "role_service_user"'s). Whoever can bind the port while the web service is
// down would otherwise get every cookie and answer as it likes.
int before_request(void* check, char* server_ip, char* client_ip, int server_port,
                   int client_port) {
  auto* c = static_cast<ServiceCheck*>(check);
  const std::string where = std::string(server_ip) + ":" + std::to_string(server_port);
  in_addr server{}, client{};
  const char* why = nullptr;
  ServerEnd end;
  if (inet_pton(AF_INET, server_ip, &server) != 1 || inet_pton(AF_INET, client_ip, &client) != 1) {
    why = "the connection is not one over IPv4";
  } else {
    why = accepted_end(server, server_port, client, client_port, c->deadline, &end);
  }
  if (why != nullptr) {
    c->refusal = "cannot tell who runs the role service on " + where + " (" + why + ")";
  } else if (end.owner != 0 && !(c->given && end.owner == c->user)) {
    c->refusal = "the role service on " + where + " is run by uid " + std::to_string(end.owner) +
                 ", not by root" +
                 (c->given ? " or \"role_service_user\" (uid " + std::to_string(c->user) + ")"
                           : std::string());
  } else {
    return CURL_PREREQFUNC_OK;
  }
  c->refusal += "; request not sent";
  return CURL_PREREQFUNC_ABORT;
}
