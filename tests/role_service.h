// A real role web service for the tests: tests/role_server.py listening on
// 127.0.0.1 on a free port, over HTTP or over HTTPS with a throwaway
// self-signed certificate made by the openssl command. It records every
// request it receives and answers with what the test chose. The server
// process is started by the constructor, which waits until it listens, and
// killed by the destructor; it also dies with the test process.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct RecordedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;  // name, exact value bytes
  // The values of every header of that name (compared without letter case).
  std::vector<std::string> values(const std::string& name) const;
};

class RoleService {
 public:
  enum Protocol { kHttp, kHttps };
  // The HTTPS service's certificate: self-signed for "role-service", expired,
  // or made out to another host name. None is one the gate could verify.
  enum Certificate { kSelfSigned, kExpired, kOtherHost };
  // Who accepts the connections: the process that listens, or a worker that
  // a root master forks after binding the port (as nginx and Apache run).
  enum Listener { kSelf, kRootMaster };
  // The server runs as root, or as the account with uid user (its group the
  // same number, no other groups); with kRootMaster only its worker does.
  explicit RoleService(Protocol protocol = kHttp, Certificate certificate = kSelfSigned,
                       uid_t user = 0, Listener listener = kSelf);
  ~RoleService();
  RoleService(const RoleService&) = delete;
  RoleService& operator=(const RoleService&) = delete;

  int port() const { return port_; }
  // The settings file that points the gate at this service with the given
  // protocol text.
  std::string settings(const std::string& protocol) const;

  // How every following request is answered (see role_server.py).
  struct Answer {
    std::string body;
    int status = 200;
    size_t piece = 0;      // above 0: the body in chunks of that many bytes
    bool close = false;    // the request is read, then the connection closed
    bool drop = false;     // the connection is closed before the request is read
    bool stall = false;    // the request is read, then never answered
    std::string location;  // a Location header, when not empty
    long length = -1;      // the Content-Length announced, when not negative
  };
  void answer(const Answer& answer) const;
  // The body bytes with the status; a piece size above 0 sends the body in
  // chunks of that many bytes.
  void reply(const std::string& body, int status = 200, size_t piece = 0) const;
  // Every following request gets no answer: the connection is closed.
  void close_without_answer() const;

  std::vector<RecordedRequest> requests() const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};
