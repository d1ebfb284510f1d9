#include "gate_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

// CORVEXIN_TEST_GATE puts another build of the gate under the tests (an
// older one, to see what a test catches).
const char* gate_binary() {
  const char* other = getenv("CORVEXIN_TEST_GATE");
  return other != nullptr && *other != '\0' ? other : GATE_BINARY;
}
const char* policy_binary() {
  return POLICY_BINARY;
}
const char* sandbox_script() {
  return SANDBOX_SCRIPT;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {
sockaddr_un socket_address(const std::string& path);
}  // namespace

Sandbox::Sandbox() {
  char tmpl[] = "/tmp/gate-sandbox-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  const sockaddr_un address = socket_address(dir_ + ".log.sock");
  log_fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (log_fd_ < 0 ||
      bind(log_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot bind the sandbox's /dev/log: " + std::string(strerror(errno)));
  // Every account may send to it, as to a log daemon's socket.
  chmod((dir_ + ".log.sock").c_str(), 0666);
  reader_ = std::thread([this] {
    char record[65536];
    pollfd in{log_fd_, POLLIN, 0};
    while (!stop_) {
      if (poll(&in, 1, 50) > 0) (void)recv(log_fd_, record, sizeof record, MSG_DONTWAIT);
    }
  });
}

Sandbox::~Sandbox() {
  stop_ = true;
  reader_.join();
  close(log_fd_);
  unlink((dir_ + ".log.sock").c_str());
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void Sandbox::write(const std::string& path, const std::string& content) const {
  const fs::path p = dir_ + path;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

void Sandbox::make_log_dir() const {
  fs::create_directories(dir_ + "/var/varn/log");
}

std::string Sandbox::log() const {
  return read_file(dir_ + "/var/varn/log/corvexin_check.log");
}

bool Sandbox::exists(const std::string& path) const {
  return fs::exists(dir_ + path);
}

namespace {

// Reads both pipes to their end without letting either fill up.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

RunResult Sandbox::run(const std::vector<std::string>& argv, const std::string& input,
                       const std::vector<std::string>& env) const {
  std::vector<std::string> full = {sandbox_script()};
  if (syslog_.empty()) {
    full.insert(full.end(), {"--syslog", dir_ + ".log.sock"});
  } else if (syslog_ != "-") {
    full.insert(full.end(), {"--syslog", syslog_});
  }
  full.push_back(dir_);
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (auto& a : full) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_copy;
  for (char** e = environ; *e != nullptr; ++e) env_copy.emplace_back(*e);
  env_copy.insert(env_copy.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : env_copy) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Small inputs fit in the pipe; the gate never reads its standard input.
  if (!input.empty() && ::write(in_pipe[1], input.data(), input.size()) < 0) {
  }
  close(in_pipe[1]);
  RunResult r;
  drain(out_pipe[0], err_pipe[0], r.out, r.err);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return r;
}

RunResult Sandbox::gate(const std::vector<std::string>& args,
                        const std::vector<std::string>& env) const {
  std::vector<std::string> argv = {gate_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, "", env);
}

namespace {

sockaddr_un socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    throw std::runtime_error("socket path too long: " + path);
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

SyslogSocket::SyslogSocket(Sandbox& box) : path_(box.dir() + "/syslog.sock") {
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_un address = socket_address(path_);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot bind " + path_ + ": " + strerror(errno));
  box.syslog_socket(path_);
}

SyslogSocket::~SyslogSocket() {
  close(fd_);
  unlink(path_.c_str());
}

std::vector<std::string> SyslogSocket::records() const {
  std::vector<std::string> records;
  char buffer[65536];
  for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
    records.emplace_back(buffer, static_cast<size_t>(n));
  return records;
}

void SyslogSocket::fill() const {
  const sockaddr_un address = socket_address(path_);
  for (bool full = false; !full;) {
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0 ||
        connect(sender, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot connect to " + path_ + ": " + strerror(errno));
    // A sender's own buffer may run out first; the queue is full when a
    // fresh sender cannot put in a single datagram.
    int sent = 0;
    while (send(sender, "filler", 6, MSG_DONTWAIT) == 6) ++sent;
    if (errno != EAGAIN) throw std::runtime_error("cannot fill " + path_ + ": " + strerror(errno));
    full = sent == 0;
    close(sender);
  }
}

Rsyslogd::Rsyslogd(Sandbox& box) : dir_(box.dir() + "/rsyslog") {
  fs::create_directories(dir_);
  const std::string socket = dir_ + "/log.sock";
  std::ofstream(dir_ + "/rsyslog.conf")
      << "global(workDirectory=\"" << dir_ << "\")\n"
      << "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
      << "input(type=\"imuxsock\" Socket=\"" << socket << "\" RateLimit.Interval=\"0\")\n"
      << "*.* action(type=\"omfile\" file=\"" << dir_ << "/messages\")\n";
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const std::string conf = dir_ + "/rsyslog.conf", pid_file = dir_ + "/rsyslogd.pid";
    if (!freopen((dir_ + "/rsyslogd.out").c_str(), "a", stdout) ||
        !freopen((dir_ + "/rsyslogd.out").c_str(), "a", stderr))
      _exit(127);
    execl("/usr/sbin/rsyslogd", "rsyslogd", "-n", "-f", conf.c_str(), "-i", pid_file.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Start-up is bounded: a daemon that never listens fails the test.
  for (int i = 0; i < 500 && !fs::exists(socket); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!fs::exists(socket))
    throw std::runtime_error("rsyslogd does not listen: " + read_file(dir_ + "/rsyslogd.out"));
  box.syslog_socket(socket);
}

Rsyslogd::~Rsyslogd() {
  stop_flood();
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string Rsyslogd::messages() const {
  return read_file(dir_ + "/messages");
}

void Rsyslogd::flood(int senders, uid_t uid) {
  const sockaddr_un address = socket_address(dir_ + "/log.sock");
  for (int i = 0; i < senders; ++i) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      // Connected as root (the directory is root's), then sending as uid.
      const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
      if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
          setgid(uid) != 0 || setuid(uid) != 0)
        _exit(127);
      while (true) send(fd, "x", 1, 0);
    }
    senders_.push_back(pid);
  }
}

void Rsyslogd::stop_flood() {
  for (const int pid : senders_) kill(pid, SIGKILL);
  for (const int pid : senders_) waitpid(pid, nullptr, 0);
  senders_.clear();
}
