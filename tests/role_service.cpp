#include "role_service.h"

#include <grp.h>
#include <json/reader.h>
#include <json/writer.h>
#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "gate_runner.h"

namespace fs = std::filesystem;

namespace {

void write_atomically(const std::string& path, const std::string& content) {
  const std::string tmp = path + ".tmp";
  std::ofstream(tmp, std::ios::binary | std::ios::trunc) << content;
  fs::rename(tmp, path);
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// Runs argv (as user, unless 0) with standard output and error going to log;
// the child is killed when the test process dies, so it can never be left
// behind.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log, uid_t user = 0,
            const char* env = nullptr) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (!freopen(log.c_str(), "a", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(127);
    if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
      _exit(127);
    if (env != nullptr) putenv(const_cast<char*>(env));
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

const char* python() {
  return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

}  // namespace

std::vector<std::string> RecordedRequest::values(const std::string& name) const {
  std::vector<std::string> found;
  for (const auto& [n, v] : headers) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) found.push_back(v);
  }
  return found;
}

RoleService::RoleService(Protocol protocol, Certificate certificate, uid_t user,
                         Listener listener) {
  char tmpl[] = "/tmp/role-service-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  const std::string log = dir_ + "/server.log";
  // The server's script is run from the service's own directory, which its
  // account owns: the checkout may lie where that account cannot reach (a
  // clone in root's home, mode 700).
  const std::string script = dir_ + "/role_server.py";
  fs::copy_file(std::string(TESTS_DIR) + "/role_server.py", script);
  std::vector<std::string> argv = {python(), script, dir_};
  if (protocol == kHttps) {
    const std::string cert = dir_ + "/cert.pem", key = dir_ + "/key.pem";
    const std::string subject = certificate == kOtherHost ? "elsewhere.example" : "role-service";
    std::vector<std::string> make = {"/usr/bin/openssl",
                                     "req",
                                     "-newkey",
                                     "ec",
                                     "-pkeyopt",
                                     "ec_paramgen_curve:prime256v1",
                                     "-nodes",
                                     "-subj",
                                     "/CN=" + subject,
                                     "-addext",
                                     "subjectAltName=DNS:" + subject,
                                     "-keyout",
                                     key,
                                     "-out"};
    // An expired certificate: a request signed with its own key whose validity
    // ended a day before it began; `openssl req -x509` refuses such days.
    if (certificate == kExpired) {
      make.push_back(dir_ + "/request.pem");
      if (wait_for(spawn(make, log)) != 0) throw std::runtime_error("openssl: " + read_file(log));
      make = {"/usr/bin/openssl", "x509", "-req",  "-in", dir_ + "/request.pem",
              "-signkey",         key,    "-days", "-1",  "-out"};
    } else {
      make.insert(make.begin() + 2, {"-x509", "-days", "1"});
    }
    make.push_back(cert);
    if (wait_for(spawn(make, log)) != 0) throw std::runtime_error("openssl: " + read_file(log));
    argv.push_back(cert);
    argv.push_back(key);
  }
  for (const auto& file : fs::recursive_directory_iterator(dir_)) {
    if (chown(file.path().c_str(), user, user) != 0) throw std::runtime_error("chown failed");
  }
  if (chown(dir_.c_str(), user, user) != 0) throw std::runtime_error("chown failed");
  const std::string worker = "ROLE_WORKER_UID=" + std::to_string(user);
  pid_ = listener == kRootMaster ? spawn(argv, log, 0, worker.c_str()) : spawn(argv, log, user);
  // Startup is bounded so that a broken server fails the test instead of hanging it.
  for (int i = 0; i < 1000 && port_ == 0; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("role service died: " + read_file(log));
    }
    const std::string port = read_file(dir_ + "/port");
    if (!port.empty()) {
      port_ = std::stoi(port);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (port_ == 0) throw std::runtime_error("role service did not start: " + read_file(log));
}

RoleService::~RoleService() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    wait_for(pid_);
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string RoleService::settings(const std::string& protocol) const {
  return "[http]\nkelvo_web_protocol=" + protocol + "\nkelvo_web_server=" + std::to_string(port_) +
         "\n";
}

void RoleService::answer(const Answer& a) const {
  write_atomically(dir_ + "/body", a.body);
  Json::Value control;
  control["status"] = a.status;
  control["piece"] = static_cast<Json::UInt64>(a.piece);
  control["close"] = a.close;
  control["drop"] = a.drop;
  control["stall"] = a.stall;
  control["headers"] = Json::objectValue;
  if (!a.location.empty()) control["headers"]["Location"] = a.location;
  if (a.length >= 0) control["length"] = static_cast<Json::Int64>(a.length);
  write_atomically(dir_ + "/reply.json", Json::FastWriter().write(control));
}

void RoleService::reply(const std::string& body, int status, size_t piece) const {
  Answer a;
  a.body = body;
  a.status = status;
  a.piece = piece;
  answer(a);
}

void RoleService::close_without_answer() const {
  Answer a;
  a.close = true;
  answer(a);
}

std::vector<RecordedRequest> RoleService::requests() const {
  std::vector<RecordedRequest> found;
  std::istringstream lines(read_file(dir_ + "/requests"));
  std::string line;
  while (std::getline(lines, line)) {
    Json::Value entry;
    if (!Json::Reader().parse(line, entry, false)) throw std::runtime_error("bad record " + line);
    RecordedRequest r{entry["method"].asString(), entry["path"].asString(), {}};
    for (const auto& header : entry["headers"]) {
      r.headers.emplace_back(header[0].asString(), from_hex(header[1].asString()));
    }
    found.push_back(r);
  }
  return found;
}
