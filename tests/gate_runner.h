// Runs the real gate binary with its real fixed paths inside a private mount
// namespace (see the sandbox script), and reads back what it left behind.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output
  std::string err;  // standard error
};

// A scratch directory that becomes the upper layer of /etc and /var for the
// runs made through it. Removed with everything in it on destruction.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return dir_; }
  // Writes a file at a path as the sandboxed run sees it, e.g. "/etc/cmd_check.json".
  void write(const std::string& path, const std::string& content) const;
  void policy(const std::string& json) const { write("/etc/cmd_check.json", json); }
  void settings(const std::string& ini) const { write("/etc/kelvo/halvora.ini", ini); }
  // Creates /var/varn/log so the gate can write its log.
  void make_log_dir() const;
  // The log's bytes, empty when no log was written.
  std::string log() const;
  bool exists(const std::string& path) const;

  // Runs argv (argv[0] a path) inside the sandbox, with the given standard
  // input, and collects its output. Extra environment entries are added.
  RunResult run(const std::vector<std::string>& argv, const std::string& input = "",
                const std::vector<std::string>& env = {}) const;
  // Runs the gate with the given arguments.
  RunResult gate(const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {}) const;
  // The runs made from now on find this socket at /dev/log (see the sandbox
  // script). Until a test names one, they find a private /dev/log of the
  // sandbox's own, which takes every record and is read by a thread of the
  // sandbox, as a log daemon would; after no_syslog(), none at all.
  void syslog_socket(const std::string& path) { syslog_ = path; }
  void no_syslog() { syslog_ = "-"; }

 private:
  std::string dir_;
  std::string syslog_;
  int log_fd_ = -1;  // the sandbox's own /dev/log
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

// A datagram socket of the test's own, bound in the sandbox's directory and
// mounted at /dev/log for the sandbox's later runs: the gate's system-log
// records arrive here.
class SyslogSocket {
 public:
  explicit SyslogSocket(Sandbox& box);
  ~SyslogSocket();
  SyslogSocket(const SyslogSocket&) = delete;
  SyslogSocket& operator=(const SyslogSocket&) = delete;
  // The datagrams received since the last call, without waiting.
  std::vector<std::string> records() const;
  // Fills the socket's queue, as a log daemon that has stopped reading
  // leaves it: until a new sender's first datagram no longer fits.
  void fill() const;

 private:
  std::string path_;
  int fd_ = -1;
};

// A real rsyslogd of the test's own, listening on a socket in the sandbox's
// directory that is mounted at /dev/log for the sandbox's later runs (as on
// the appliance), and writing what it receives to a file of the directory.
// Stopped on destruction, and dies with the test process.
class Rsyslogd {
 public:
  explicit Rsyslogd(Sandbox& box);
  ~Rsyslogd();
  Rsyslogd(const Rsyslogd&) = delete;
  Rsyslogd& operator=(const Rsyslogd&) = delete;
  // What it has written so far.
  std::string messages() const;
  // Starts senders that keep its queue full with one-byte datagrams, as
  // uid, until stop_flood().
  void flood(int senders, uid_t uid);
  void stop_flood();

 private:
  std::string dir_;
  int pid_ = -1;
  std::vector<int> senders_;
};

// Path of the built gate, of the administrator's program and of the sandbox script.
const char* gate_binary();
const char* policy_binary();
const char* sandbox_script();

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
