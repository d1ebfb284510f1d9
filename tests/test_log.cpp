// The log: exact bytes, verbatim messages, file mode, and a missing log
// directory that must not change any decision. The system-log record of each
// decision: its fields, and a log daemon that is missing or stuck, which must
// cost nothing but the record.
#include <gtest/gtest.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ancestry.h"
#include "audit.h"
#include "decision.h"
#include "gate_runner.h"
#include "policy.h"
#include "policy_json.h"
#include "role_service.h"
#include "vocabulary.h"

namespace {

TEST(Log, CommandIsWrittenVerbatim) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  const std::string command = "printf '%s %n %d %%' \"$HOME\"\t\\n";
  ASSERT_EQ(box.gate({command}).status, 1);
  EXPECT_EQ(box.log(), command + "\ncheck failed, skip cmd\n\n");
}

TEST(Log, AppendsAndCreatesTheFileReadableByAll) {
  Sandbox box;
  box.make_log_dir();
  box.write("/var/varn/log/corvexin_check.log", "earlier line\n");
  box.policy(R"({"enable_log": 1})");
  ASSERT_EQ(box.gate({"true"}).status, 0);
  EXPECT_EQ(box.log(), "earlier line\ntrue\npass the scripts check, run cmd now\n\n");

  Sandbox fresh;
  fresh.make_log_dir();
  fresh.policy(R"({"enable_log": 1})");
  // The caller's narrow mask does not apply: the gate sets 022.
  ASSERT_EQ(
      fresh.run({"/bin/bash", "-c", "umask 077; exec \"$@\"", "x", gate_binary(), "true"}).status,
      0);
  struct stat st {};
  ASSERT_EQ(stat((fresh.dir() + "/var/varn/log/corvexin_check.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(Log, MissingLogDirectoryChangesNoDecision) {
  Sandbox box;
  box.policy(R"({"enable_log": 1, "scripts_section": {"check_method": 2}})");
  RunResult ran = box.gate({"echo ran"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, "ran\n");
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  EXPECT_EQ(box.gate({"echo ran"}).status, 1);
  EXPECT_FALSE(box.exists("/var/varn/log/corvexin_check.log"));
}

// The header: facility authpriv, notice (85) for an allowed command and
// warning (84) for a refused one, the identity and the process id.
const char kHeader[] = "^<(8[45])>corvexin_check\\[[0-9]+\\]: ";

// The one record a run sent: its priority and its message.
std::pair<std::string, std::string> only_record(const SyslogSocket& socket) {
  const std::vector<std::string> records = socket.records();
  if (records.size() != 1) return {"records: " + std::to_string(records.size()), ""};
  regex_t header;
  regmatch_t match[2];
  if (regcomp(&header, kHeader, REG_EXTENDED) != 0) return {"bad header pattern", ""};
  const bool found = regexec(&header, records[0].c_str(), 2, match, 0) == 0;
  regfree(&header);
  if (!found) return {"no header", records[0]};
  const auto at = [&](regoff_t offset) { return static_cast<size_t>(offset); };
  return {records[0].substr(at(match[1].rm_so), at(match[1].rm_eo - match[1].rm_so)),
          records[0].substr(at(match[0].rm_eo))};
}

TEST(SystemLog, RecordsEachDecisionFromItsRecord) {
  RoleService service;
  Sandbox box;
  box.make_log_dir();
  box.settings(service.settings("http"));
  SyslogSocket socket(box);
  // The gate is this test's child: its parent and working directory are ours.
  char parent[kProcNameSize + 1] = "";
  ASSERT_EQ(get_proc_name(getpid(), parent), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string caller = "uid=0 login=\"root\" ppid=" + std::to_string(getpid()) +
                             " parent=\"" + parent + "\" cwd=\"" + cwd + "\" ";
  const std::string role_entries =
      R"([{"pattern": "^no$", "is_cookie_check": 0}, {"pattern": "^echo ran$", "role_right": {"3": 2}}])";
  struct Case {
    const char* what;
    std::string policy, reply, command, priority, fields;
  } cases[] = {
      {"white list, role lookup", policy_text(section(1, role_entries)),
       R"({"user": "alice", "group_value": {"3": 2}})", "echo ran", "85",
       "section=scripts_section method=1 entry=1 role_lookup=yes user=\"alice\""},
      {"an ancestor's entry, role refused", policy_text(section(3, R"([{"pattern": "^no$"},
           {"pattern": "test_log", "role_right": {"5": 1}}])")),
       R"({"user": "bob", "group_value": {"5": 0}})", "echo ran", "84",
       "section=scripts_section method=3 entry=1 role_lookup=yes user=\"bob\""},
      {"no entry matches", policy_text(kRefusingSection, 0, section(1, role_entries)), "", "date",
       "84", "section=ui_section method=1 entry=- role_lookup=no user=-"},
      {"the match alone allows, in the ui section",
       policy_text(kRefusingSection, 1,
                   section(1, R"([{"pattern": "^date$", "is_cookie_check": 0}])")),
       "", "date", "85", "section=ui_section method=1 entry=0 role_lookup=no user=-"},
      {"policy does not load", "{", "", "date", "84",
       "section=none method=- entry=- role_lookup=no user=-"},
      {"the run ends on a value", R"({"scripts_section": {"check_method": "1"}})", "", "date", "84",
       "section=none method=- entry=- role_lookup=no user=-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    box.policy(c.policy);
    service.reply(c.reply);
    box.gate({c.command});
    const auto [priority, message] = only_record(socket);
    EXPECT_EQ(priority, c.priority) << message;
    const std::string verdict = c.priority == "85" ? "allowed: " : "refused: ";
    EXPECT_EQ(message, verdict + caller + c.fields + " command=\"" + c.command + "\"");
  }
  // Text from outside is escaped so that it can forge neither a line nor a
  // field; the log file keeps its own bytes.
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  box.write("/var/varn/log/corvexin_check.log", "");
  const std::string command = "x\" role_lookup=yes user=\"admin\\\nid";
  box.gate({command});
  EXPECT_EQ(box.log(), "x\" role_lookup=yes user=\"admin\\\\x0aid\ncheck failed, skip cmd\n\n");
  const auto [priority, message] = only_record(socket);
  EXPECT_NE(
      message.find(
          " role_lookup=no user=- command=\"x\\x22 role_lookup=yes user=\\x22admin\\x5c\\x0aid\""),
      std::string::npos)
      << message;
}

// The caller's name is the first line of /etc/passwd with its user id; a
// line too long to be an account's is passed over.
TEST(SystemLog, NameFromThePasswordFile) {
  Sandbox box;
  box.policy(R"({"scripts_section": {"check_method": 0}})");
  SyslogSocket socket(box);
  const std::string long_line = "long:x:0:0:" + std::string(5000, 'g') + ":/:/bin/sh\n";
  const std::pair<std::string, std::string> cases[] = {
      {long_line + "broken\n+::::::\nnine:x:9:0::/:/bin/sh\n" +
           "op:x:00:0::/:/bin/sh\nroot:x:0:0::/root:/bin/sh\n",
       " login=\"op\" "},
      {"nine:x:9:0::/:/bin/sh\nlast:x:0:0::/:/bin/sh", " login=\"last\" "},
      {"nine:x:9:0::/:/bin/sh\n", " login=- "},
  };
  for (const auto& [passwd, login] : cases) {
    box.write("/etc/passwd", passwd);
    box.gate({"true"});
    const auto [priority, message] = only_record(socket);
    EXPECT_NE(message.find(" uid=0" + login), std::string::npos) << message;
  }
}

// Long texts are cut so that the record stays one datagram of a bounded size;
// an escape is never split, and what is unknown is written as "-".
TEST(SystemLog, RecordCutsLongTexts) {
  Decision d;
  d.loaded = true;
  d.verdict = 1;
  const std::string quotes(2000, '"'), command(5000, 'c');
  AuditFacts facts;
  facts.uid = 4242;
  facts.ppid = 7;
  facts.parent = quotes.c_str();
  facts.command = command.c_str();
  char out[kAuditRecordSize];
  const size_t n = audit_record(d, facts, out);
  const std::string record(out, n);
  EXPECT_LT(n, kAuditRecordSize);
  std::string kept;
  while (kept.size() + 4 + 15 <= 1024) kept += "\\x22";
  EXPECT_NE(record.find("refused: uid=4242 login=- ppid=7 parent=\"" + kept +
                        "...[2000 bytes]\" cwd=- "
                        "section=none method=- entry=- role_lookup=no user=- command=\"" +
                        std::string(4096 - 15, 'c') + "...[5000 bytes]\""),
            std::string::npos)
      << record;
}

// A missing or stuck log daemon costs nothing but the record, and "syslog": 0
// sends none.
// A log daemon that is missing, or whose queue stays full, holds the gate a
// second at most; the allowed command's lines then go to the log file.
TEST(SystemLog, HoldsTheGateASecondAtMost) {
  Sandbox box;
  box.make_log_dir();
  box.no_syslog();
  box.policy(R"({"scripts_section": {"check_method": 0}})");
  RunResult r = box.gate({"echo ran"});  // no /dev/log at all
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_EQ(r.err, "");

  SyslogSocket socket(box);
  socket.fill();
  const size_t queued = socket.records().size();
  socket.fill();
  r = box.gate({"echo ran"});  // ends after a second, the record dropped
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(socket.records(), std::vector<std::string>(queued, "filler"));

  for (const char* policy :
       {R"({"syslog": 0})", R"({"syslog": false, "scripts_section": {"check_method": 2}})"}) {
    SCOPED_TRACE(policy);
    box.policy(policy);
    r = box.gate({"echo ran"});
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(socket.records().empty());
  }
}

}  // namespace
