// The account role lookup against a real role web service on 127.0.0.1, over
// HTTP and HTTPS, run in-process inside a private root (see private_root.h).
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "gate_runner.h"
#include "policy.h"
#include "private_root.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "role_service.h"
#include "vocabulary.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

constexpr char kPath[] = "/rest/accountroleinfo";
constexpr char kLog[] = "/var/varn/log/corvexin_check.log";

struct Output {
  std::string out, err;
};

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool libcurl_mapped() {
  return read_file("/proc/self/maps").find("libcurl") != std::string::npos;
}

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

class RoleLookup : public testing::Test {
 protected:
  void SetUp() override {
    enter_private_root();
    remove_path("/etc/kelvo");
    remove_path("/var/varn");
    make_directories("/var/varn/log");
    group_role = Json::Value();
    enable_log = 0;
    set_role_transfer(fetch_role_reply);
  }
  void TearDown() override {
    group_role = Json::Value();
    enable_log = 0;
  }

  static void settings(const std::string& ini) { put_file(kSettingsPath, ini); }

  static Output lookup(const std::string& cookie = kDefaultCookie) {
    CaptureStdout();
    CaptureStderr();
    get_role_right(cookie.c_str());
    Output o;
    o.out = GetCapturedStdout();
    o.err = GetCapturedStderr();
    return o;
  }

  static std::string url(const std::string& scheme, int port) {
    return scheme + "://127.0.0.1:" + std::to_string(port) + kPath;
  }
};

// Must run before any lookup of the process; under ctest every test is a
// process of its own.
TEST_F(RoleLookup, LibcurlIsLoadedByTheFirstLookupOnly) {
  if (libcurl_mapped()) GTEST_SKIP() << "a lookup ran earlier in this process";
  RoleService service;
  service.reply(R"({"user":"u"})");
  settings(service.settings("http"));
  // A lookup that makes no request loads nothing either.
  lookup("bad\ncookie");
  EXPECT_FALSE(libcurl_mapped());
  lookup();
  EXPECT_TRUE(libcurl_mapped());
  EXPECT_EQ(group_role["user"], "u");
}

TEST_F(RoleLookup, GateRunWithoutLookupLoadsNoLibcurl) {
  Sandbox box;
  box.policy(R"({"scripts_section": {"check_method": 0}})");
  // The loader lists every object that it maps, needed or opened at run time.
  const RunResult r = box.gate({"true"}, {"LD_DEBUG=files"});
  EXPECT_EQ(r.status, 0);
  EXPECT_PRED2(contains, r.err, "libc.so.6") << "LD_DEBUG listed nothing";
  EXPECT_EQ(r.err.find("libcurl"), std::string::npos) << r.err;
}

// A libcurl.so.4 that the search path finds but that lacks the easy interface
// (here: libm, which this test program loads, under that name). The search
// path is fixed when a program starts, so the test runs itself again with one
// that finds it.
TEST_F(RoleLookup, UnusableLibcurlMakesNoRequest) {
  if (getenv("ROLE_TEST_UNUSABLE_CURL") != nullptr) {
    RoleService service;
    service.reply(R"({"user":"admin"})");
    settings(service.settings("http"));
    for (int i = 0; i < 2; ++i) {
      const Output o = lookup();
      EXPECT_EQ(o.err,
                "corvexin_check: cannot load libcurl: libcurl.so.4 lacks the easy interface\n");
      EXPECT_PRED2(starts_with, o.out, "Failed to parse");
    }
    EXPECT_TRUE(group_role.isNull());
    EXPECT_TRUE(service.requests().empty());
    return;
  }
  // The names come from the loader and from /proc/PID/exe, not from
  // /proc/self/maps or readlink: in a chroot those print paths outside it.
  std::string other;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* found) {
        if (strstr(info->dlpi_name, "/libm.so") == nullptr) return 0;
        *static_cast<std::string*>(found) = info->dlpi_name;
        return 1;
      },
      &other);
  ASSERT_FALSE(other.empty());
  char dir[] = "/tmp/unusable-curl-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  fs::create_symlink(other, std::string(dir) + "/libcurl.so.4");
  const std::string command = std::string("LD_LIBRARY_PATH=") + dir +
                              " ROLE_TEST_UNUSABLE_CURL=1 " + "/proc/" + std::to_string(getpid()) +
                              "/exe" +
                              " --gtest_filter=RoleLookup.UnusableLibcurlMakesNoRequest 2>&1";
  RunResult r;
  FILE* child = popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, child)) > 0;) r.out.append(buffer, n);
  r.status = pclose(child);
  fs::remove_all(dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_PRED2(contains, r.out, "[  PASSED  ] 1 test");
}

TEST_F(RoleLookup, ProtocolTextChoosesHttpsOnlyWhenExact) {
  struct Case {
    const char* protocol;
    RoleService::Protocol served;
  } cases[] = {{"https", RoleService::kHttps},
               {"http", RoleService::kHttp},
               {"HTTPS", RoleService::kHttp},
               {"https ", RoleService::kHttp},
               {"", RoleService::kHttp}};
  enable_log = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("protocol '") + c.protocol + "'");
    // The HTTPS service has a self-signed certificate; a plain HTTP request to
    // it fails, and a TLS request to the plain one fails too.
    RoleService service(c.served);
    service.reply(R"({"user":"someone"})");
    settings(service.settings(c.protocol));
    group_role = Json::Value();
    const Output o = lookup();
    const std::string scheme = c.served == RoleService::kHttps ? "https" : "http";
    EXPECT_EQ(o.out, "read config test: " + url(scheme, service.port()));
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].method, "GET");
    EXPECT_EQ(service.requests()[0].path, kPath);
    EXPECT_EQ(group_role["user"], "someone");
  }
}

TEST_F(RoleLookup, CookieIsTheOnlyCookieAndNoOtherHeaderIsAdded) {
  const std::string cookies[] = {kDefaultCookie, "session=4f2a; lang=en", "a=b\tc",
                                 "%s%n%x",       "s=\xc3\xa9t\xc3\xa9",   ""};
  for (auto protocol : {RoleService::kHttp, RoleService::kHttps}) {
    RoleService service(protocol);
    service.reply(R"({"user":"u"})");
    settings(service.settings(protocol == RoleService::kHttps ? "https" : "http"));
    for (const auto& cookie : cookies) lookup(cookie);
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), std::size(cookies));
    for (size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE("cookie '" + cookies[i] + "'");
      EXPECT_EQ(requests[i].values("Cookie"), std::vector<std::string>{cookies[i]});
      std::set<std::string> names;
      for (const auto& header : requests[i].headers) names.insert(header.first);
      EXPECT_EQ(names, (std::set<std::string>{"Host", "Accept", "Cookie"}));
      EXPECT_EQ(requests[i].values("Host"),
                std::vector<std::string>{"127.0.0.1:" + std::to_string(service.port())});
    }
  }
}

TEST_F(RoleLookup, CookieThatCouldInjectHeadersIsNotSent) {
  RoleService service;
  service.reply(R"({"user":"admin"})");
  settings(service.settings("http"));
  const std::string cookies[] = {
      "s=1\r\nX-Injected: 1", "s=1\nX-Injected: 1", "s=1\rx", "s=1\x01", "s=\x7f", "\x1b[2J"};
  for (const auto& cookie : cookies) {
    SCOPED_TRACE(testing::PrintToString(cookie));
    const Output o = lookup(cookie);
    EXPECT_EQ(o.err, "corvexin_check: the cookie holds a control character; role lookup skipped\n");
    EXPECT_PRED2(starts_with, o.out, "Failed to parse");
    EXPECT_FALSE(group_role.isMember("user"));
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(RoleLookup, ServiceThatIsDownReportsTheTransferError) {
  int port = 0;
  {
    RoleService gone;
    port = gone.port();
  }
  settings("[http]\nkelvo_web_protocol=http\nkelvo_web_server=" + std::to_string(port) + "\n");
  const Output o = lookup();
  // The cause in the gate's name, then libcurl's words.
  EXPECT_EQ(o.err,
            "corvexin_check: role lookup failed: Couldn't connect to server\n"
            "curl_easy_perform() failed: Couldn't connect to server\n");
  EXPECT_PRED2(starts_with, o.out, "Failed to parse");
  EXPECT_TRUE(group_role.isNull());
}

// Replies are logged cut and escaped, and only a reply that parses as a whole
// fills group_role: nothing of a broken one stays there.
TEST_F(RoleLookup, RepliesAreLoggedAndParsedAsTheyCame) {
  std::string big = R"({"user":"long","pad":")" + std::string(10000, 'x') + R"("})";
  std::string with_nul = R"({"user":"before"})";
  with_nul += std::string(1, '\0') + R"({"user":"after"})";
  const std::string extra = "* Line 1, Column 17\n  Extra non-whitespace after JSON value.\n";
  struct Case {
    const char* name;
    std::string body;
    int status;
    size_t piece;
    const char* user;     // expected in group_role, "" for none
    std::string logged;   // the log line's text
    std::string failure;  // what follows "Failed to parse", empty when it parses
  } cases[] = {
      {"whole", R"({"user":"u","group_value":{"1":2}})", 200, 0, "u",
       R"({"user":"u","group_value":{"1":2}})", ""},
      {"many small pieces", big, 200, 7, "long", big.substr(0, 4096) + "...[10024 bytes]", ""},
      {"one byte pieces", R"({"user":"tiny"})", 200, 1, "tiny", R"({"user":"tiny"})", ""},
      {"empty", "", 200, 0, "", "", "* Line 1, Column 1\n"},
      {"NUL byte", with_nul, 200, 0, "before", R"({"user":"before"})", ""},
      {"HTTP 500", R"({"user":"err"})", 500, 0, "err", R"({"user":"err"})", ""},
      {"not JSON", "<html>Forbidden</html>", 403, 0, "", "<html>Forbidden</html>",
       "* Line 1, Column 1\n"},
      {"per cent signs", R"({"user":"%s%n%%","x":"\u00e9 é"})", 200, 3, "%s%n%%",
       R"({"user":"%s%n%%","x":"\u00e9 é"})", ""},
      {"line breaks and escapes", "{\"user\":\n\"nl\"}\x1b[2J\r\n", 200, 0, "",
       R"({"user":\x0a"nl"}\x1b[2J\x0d\x0a)",
       "* Line 2, Column 6\n  Extra non-whitespace after JSON value.\n"},
      {"cut after a granting member", R"({"user":"admin","group_value":)", 200, 0, "",
       R"({"user":"admin","group_value":)", "* Line 1, Column 31\n"},
      {"a page after the value", R"({"user":"admin"}<html>)", 200, 0, "",
       R"({"user":"admin"}<html>)", extra},
      {"a second document", R"({"user":"alice"}{"user":"admin"})", 200, 0, "",
       R"({"user":"alice"}{"user":"admin"})", extra},
      {"blanks and a comment after the value", "{\"user\":\"c\"} // end\n", 200, 0, "c",
       R"({"user":"c"} // end\x0a)", ""},
  };
  RoleService service;
  settings(service.settings("http"));
  enable_log = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remove_path(kLog);
    group_role = Json::Value();
    service.reply(c.body, c.status, c.piece);
    const Output o = lookup();
    EXPECT_EQ(read_file(kLog), c.logged + "\n");
    const Json::Value& account = group_role;
    EXPECT_EQ(account.isNull(), *c.user == '\0');
    EXPECT_EQ(account["user"].asString(), c.user);
    EXPECT_EQ(o.err, "");
    const std::string trace = "read config test: " + url("http", service.port());
    if (!c.failure.empty()) {
      EXPECT_PRED2(starts_with, o.out, trace + "Failed to parse" + c.failure);
    } else {
      EXPECT_EQ(o.out, trace);
    }
  }
}

TEST_F(RoleLookup, NothingIsLoggedWithoutTracing) {
  RoleService service;
  settings(service.settings("http"));
  service.reply(R"({"user":"u"})");
  const Output o = lookup();
  EXPECT_EQ(o.out, "");
  EXPECT_FALSE(fs::exists(kLog));
  EXPECT_EQ(group_role["user"], "u");
}

TEST_F(RoleLookup, ConnectionClosedWithoutAnswer) {
  RoleService service;
  settings(service.settings("http"));
  service.close_without_answer();
  const Output o = lookup();
  EXPECT_PRED2(starts_with, o.err, "corvexin_check: role lookup failed: ");
  EXPECT_NE(o.err.find("\ncurl_easy_perform() failed: "), std::string::npos);
  EXPECT_PRED2(starts_with, o.out, "Failed to parse");
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(RoleLookup, LaterLookupReplacesTheRoleInformation) {
  RoleService service;
  settings(service.settings("http"));
  service.reply(R"({"user":"first","group_value":{"1":5}})");
  lookup();
  EXPECT_EQ(group_role["group_value"]["1"], 5);
  service.reply(R"({"user":"second"})");
  lookup();
  Json::Value second;
  second["user"] = "second";
  EXPECT_EQ(group_role, second);
  // A reply that does not parse leaves the previous one in place, even when
  // its first part would have granted.
  service.reply(R"({"user":"admin","group_value":)");
  const Output o = lookup();
  EXPECT_PRED2(starts_with, o.out, "Failed to parse");
  EXPECT_EQ(group_role, second);
  EXPECT_EQ(service.requests().size(), 3u);
}

TEST_F(RoleLookup, ProxyVariablesAreNotFollowed) {
  RoleService decoy;
  decoy.reply(R"({"user":"admin"})");
  const std::string proxy = "http://127.0.0.1:" + std::to_string(decoy.port());
  ScopedEnv vars[] = {{"http_proxy", proxy.c_str()},  {"https_proxy", proxy.c_str()},
                      {"HTTPS_PROXY", proxy.c_str()}, {"ALL_PROXY", proxy.c_str()},
                      {"all_proxy", proxy.c_str()},   {"no_proxy", nullptr},
                      {"NO_PROXY", nullptr}};
  for (auto protocol : {RoleService::kHttp, RoleService::kHttps}) {
    RoleService service(protocol);
    service.reply(R"({"user":"real"})");
    settings(service.settings(protocol == RoleService::kHttps ? "https" : "http"));
    lookup();
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(group_role["user"].asString(), "real");
  }
  EXPECT_TRUE(decoy.requests().empty());
}

TEST_F(RoleLookup, MissingSettingsMakeNoRequest) {
  RoleService service;
  service.reply(R"({"user":"admin"})");
  const std::string number = std::to_string(service.port());
  const std::string port = "kelvo_web_server=" + number + "\n";
  const std::string http = "[http]\nkelvo_web_protocol=http\nkelvo_web_server=";
  const std::string inis[] = {
      "",                                         // no settings file at all
      "[web]\nkelvo_web_protocol=http\n" + port,  // no section "http"
      "[http]\n" + port,                          // no protocol
      "[http]\nkelvo_web_protocol=http\n",        // no port
      // No port number: another host, another path, out of range, padded.
      http + "1@127.0.0.1:" + number + "\n",
      http + number + "/other/path?x=\n",
      http + "0\n",
      http + "65536\n",
      http + "-1\n",
      http + "00000080\n",
      http + number + " \n",
  };
  for (size_t i = 0; i < std::size(inis); ++i) {
    SCOPED_TRACE(i);
    remove_path("/etc/kelvo");
    if (i > 0) settings(inis[i]);
    const Output o = lookup();
    EXPECT_PRED2(contains, o.err, "role lookup skipped");
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1);
    EXPECT_PRED2(starts_with, o.out, "Failed to parse");
    EXPECT_FALSE(group_role.isMember("user"));
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST(WriteData, BlockThatCannotGrowHoldsTheEmptyText) {
  url_data data{0, static_cast<char*>(malloc(4096))};
  data.body[0] = '\0';
  char piece[] = "abcdef";
  ASSERT_EQ(write_data(piece, 1, 3, &data), 3u);
  CaptureStderr();
  // No allocator grants this; and a size whose sum would wrap is refused too.
  EXPECT_EQ(write_data(piece, 1, SIZE_MAX / 2, &data), 0u);
  // (A sanitizer build may print its own warning before the message.)
  const std::string err = GetCapturedStderr();
  EXPECT_PRED2(ends_with, err, "Failed to allocate memory.\n");
  EXPECT_EQ(data.size, 0u);
  EXPECT_STREQ(data.body, "");
  EXPECT_EQ(write_data(piece, 2, 3, &data), 6u);
  CaptureStderr();
  EXPECT_EQ(write_data(piece, SIZE_MAX, 1, &data), 0u);
  EXPECT_EQ(write_data(piece, SIZE_MAX / 2, 3, &data), 0u);
  GetCapturedStderr();
  EXPECT_STREQ(data.body, "");
  free(data.body);
}

}  // namespace
