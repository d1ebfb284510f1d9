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

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The policy member naming the account, besides root, that may run the service.
constexpr char kServiceUserMember[] = "role_service_user";

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

}  // namespace

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
