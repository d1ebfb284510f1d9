// Faults of the role web service, met by the real gate with a policy whose
// only way to allow the command is a role check: the command runs only when
// a reply that parses grants the right, the gate never crashes, and what it
// says is the design's (the transfer error on standard error, the reader's
// complaint and the refusal on standard output).
#include <gtest/gtest.h>

#include <memory>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

constexpr char kGranted[] = R"({"user": "alice", "group_value": {"3": 2}})";
constexpr char kTooLow[] = R"({"user": "alice", "group_value": {"3": 1}})";
constexpr char kTransferError[] = "curl_easy_perform() failed: ";
// A failed transfer says its cause first, in the gate's name.
constexpr char kLookupFailed[] = "corvexin_check: role lookup failed: ";
constexpr char kTooBig[] =
    "corvexin_check: role lookup failed: the role service's reply is larger than 1 MiB\n"
    "curl_easy_perform() failed: Failed writing received data to disk/application\n";

struct FaultCase {
  const char* name;
  RoleService::Answer answer;
  bool allowed;
  bool parse_fails;     // "Failed to parse" and the reader's messages on standard output
  bool transfer_fails;  // libcurl's complaint on standard error
  RoleService::Protocol protocol = RoleService::kHttp;
  RoleService::Certificate certificate = RoleService::kSelfSigned;
  bool listening = true;      // false: nothing listens on the port
  bool redirect = false;      // the answer's Location points at a decoy service
  const char* err = nullptr;  // all of standard error, when given
  // The service closes the connection so early that the gate may find its
  // socket closed before asking who owns it: then it sends nothing and says
  // so as the lookup's cause and in one more line in the log.
  bool owner_unknown_allowed = false;
};

// Takes out the gate's line saying that the service's owner could not be
// told, where a case allows it.
std::string without_owner_line(std::string text) {
  const std::string mark = "cannot tell who runs the role service on ";
  const size_t at = text.find(mark);
  if (at == std::string::npos) return text;
  const size_t start = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  return text.erase(start, text.find('\n', at) + 1 - start);
}

RoleService::Answer body(const std::string& bytes, int status = 200, size_t piece = 0) {
  RoleService::Answer a;
  a.body = bytes;
  a.status = status;
  a.piece = piece;
  return a;
}

RoleService::Answer closed(bool before_request) {
  RoleService::Answer a;
  (before_request ? a.drop : a.close) = true;
  return a;
}

RoleService::Answer stalled() {
  RoleService::Answer a;
  a.stall = true;
  return a;
}

RoleService::Answer announcing(const std::string& bytes, long length) {
  RoleService::Answer a = body(bytes);
  a.length = length;
  return a;
}

// The granted account, padded with a member of n bytes.
std::string padded(size_t n) {
  return R"({"pad": ")" + std::string(n, 'p') + R"(", "user": "alice", "group_value": {"3": 2}})";
}

// A huge reply. Under AddressSanitizer every realloc copies the body so far,
// and twenty megabytes in pieces would take longer than a lookup may.
#ifdef __SANITIZE_ADDRESS__
constexpr size_t kHuge = 4u << 20;
#else
constexpr size_t kHuge = 20u << 20;
#endif

std::string with_nul(const std::string& before, const std::string& after) {
  return before + std::string(1, '\0') + after;
}

class RoleFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(RoleFaults, CommandRunsOnlyOnAGrantingReply) {
  const FaultCase& c = GetParam();
  auto service = std::make_unique<RoleService>(c.protocol, c.certificate);
  RoleService decoy;
  decoy.reply(R"({"user": "admin"})");
  RoleService::Answer answer = c.answer;
  if (c.redirect) answer.location = "http://127.0.0.1:" + std::to_string(decoy.port()) + "/";
  service->answer(answer);
  Sandbox box;
  box.make_log_dir();
  box.settings(service->settings(c.protocol == RoleService::kHttps ? "https" : "http"));
  if (!c.listening) service.reset();  // its port is free now: nothing answers there
  box.policy(policy_text(
      section(1, R"([{"pattern": "^echo ran$", "is_cookie_check": 1, "role_right": {"3": 2}}])")));

  RunResult r = box.gate({"echo ran", "session=alice"});
  std::string log = box.log();
  if (c.owner_unknown_allowed) log = without_owner_line(log);
  EXPECT_LT(r.status, 128) << "killed by a signal";
  EXPECT_EQ(r.status, c.allowed ? 0 : 1);
  const bool parse_failed = r.out.rfind("Failed to parse* Line ", 0) == 0;
  EXPECT_EQ(parse_failed, c.parse_fails) << r.out;
  const std::string refusal = std::string(kRefusal);
  if (c.allowed) {
    EXPECT_EQ(r.out, "ran\n");
    EXPECT_EQ(log, "");
  } else {
    ASSERT_GE(r.out.size(), refusal.size());
    EXPECT_EQ(r.out.substr(r.out.size() - refusal.size()), refusal);
    EXPECT_EQ(log, "echo ran\ncheck failed, skip cmd\n\n");
  }
  if (c.err != nullptr) {
    EXPECT_EQ(r.err, c.err);
  } else if (c.answer.stall) {
    EXPECT_EQ(r.err, std::string(kLookupFailed) + "Timeout was reached\n" + kTransferError +
                         "Timeout was reached\n");
  } else if (c.transfer_fails) {
    // Two lines: the cause, then libcurl's.
    const size_t second = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.rfind(kLookupFailed, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find(kTransferError), second) << r.err;
    EXPECT_EQ(r.err.find('\n', second), r.err.size() - 1) << r.err;
  } else {
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(decoy.requests().empty()) << "a redirect was followed";
  if (service != nullptr && !c.answer.drop) {
    EXPECT_EQ(service->requests().size(), 1u);
  }
}

const FaultCase kCases[] = {
    {"Granted", body(kGranted), true, false, false},
    {"TooLow", body(kTooLow), false, false, false},
    {"NotListening", body(kGranted), false, true, true, RoleService::kHttp,
     RoleService::kSelfSigned, false},
    {"ClosedAtOnce", closed(true), false, true, true, RoleService::kHttp, RoleService::kSelfSigned,
     true, false, nullptr, true},
    {"ClosedAfterTheRequest", closed(false), false, true, true},
    {"Http500Page", body("<html>Internal Server Error</html>", 500), false, true, false},
    // The status is not examined: a body that is account role information
    // decides, whatever status came with it.
    {"Http500WithAccount", body(kGranted, 500), true, false, false},
    {"Http404", body("<html>Not Found</html>", 404), false, true, false},
    {"RedirectNotFollowed", body("", 302), false, true, false, RoleService::kHttp,
     RoleService::kSelfSigned, true, true},
    {"NotJson", body("user=alice; group=3:2"), false, true, false},
    {"Empty", body(""), false, true, false},
    {"CutInsideTheJson", announcing(std::string(kGranted).substr(0, 30), 200), false, true, true},
    // Shorter than announced, but the JSON is whole: what arrived decides.
    {"CutAfterTheJson", announcing(kGranted, 200), true, false, true},
    // Only a reply that parses as a whole counts: a cut one keeps nothing of
    // its granting first part, and nothing may follow the value.
    {"CutAfterAGrantingMember", announcing(R"({"user": "admin", "group_value": )", 200), false,
     true, true},
    {"PageAfterTheJson", body(std::string(kGranted) + "<html>proxy error</html>"), false, true,
     false},
    {"SecondDocument", body(std::string(kTooLow) + kGranted), false, true, false},
    // A service that accepts and never answers: the lookup gives up.
    {"NeverAnswers", stalled(), false, true, true},
    {"NulByteBeforeTheGrant", body(with_nul(kTooLow, kGranted)), false, false, false},
    {"NulByteFirst", body(with_nul("", kGranted)), false, true, false},
    {"ThousandOneBytePieces", body(padded(1000), 200, 1), true, false, false},
    {"ThousandOneBytePiecesTooLow", body(std::string(1000, ' ') + kTooLow, 200, 1), false, false,
     false},
    // A reply past 1 MiB is not taken, whatever it says.
    {"TwentyMegabytes", body(padded(kHuge)), false, false, false, RoleService::kHttp,
     RoleService::kSelfSigned, true, false, kTooBig},
    {"TwentyMegabytesNotJson", body(std::string(kHuge, '{')), false, false, false,
     RoleService::kHttp, RoleService::kSelfSigned, true, false, kTooBig},
    {"TlsExpiredCertificate", body(kGranted), true, false, false, RoleService::kHttps,
     RoleService::kExpired},
    {"TlsCertificateForAnotherHost", body(kGranted), true, false, false, RoleService::kHttps,
     RoleService::kOtherHost},
    {"TlsTooLow", body(kTooLow), false, false, false, RoleService::kHttps, RoleService::kExpired},
};

INSTANTIATE_TEST_SUITE_P(Cases, RoleFaults, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& p) { return p.param.name; });

}  // namespace
