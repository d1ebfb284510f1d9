// The role-right comparison: group_role (the account role information) against
// a white-list entry's role_right.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <climits>
#include <string>

#include "policy.h"
#include "private_root.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "role_service.h"
#include "vocabulary.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr char kNoUser[] = "can not get user info, cookie may wrong\n";
constexpr char kAdmin[] = "It's internal admin, skip check\n";

Json::Value json(const std::string& text) {
  Json::Value value;
  if (!Json::Reader().parse(text, value, false)) throw std::runtime_error("bad JSON: " + text);
  return value;
}

// Runs the comparison with the trace switch as given; returns the result and
// what it printed.
std::pair<int, std::string> compare(const Json::Value& role_right, int log) {
  enable_log = log;
  CaptureStdout();
  const int result = check_role_right(role_right);
  enable_log = 0;
  return {result, GetCapturedStdout()};
}

TEST(CheckRight, Table) {
  struct Case {
    int granted, required, result;
  } cases[] = {{5, 0, 2},
               {5, -1, 2},
               {INT_MAX, INT_MIN, 2},
               {1, 2, 2},
               {-3, 1, 2},
               {INT_MIN, 1, 2},
               {2, 2, 0},
               {3, 2, 0},
               {INT_MAX, 1, 0},
               {INT_MAX, INT_MAX, 0},
               {-1, -1, 2},
               {0, 0, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(check_right(c.granted, c.required), c.result)
        << c.granted << " against " << c.required;
  }
}

TEST(CheckRoleRight, Table) {
  struct Case {
    const char* name;
    const char* account;     // group_role
    const char* role_right;  // the entry's demands
    int result;
    const char* trace;  // printed when tracing is on
  } cases[] = {
      {"no reply", "null", R"({"1":1})", 1, kNoUser},
      {"empty object", "{}", R"({"1":1})", 1, kNoUser},
      {"empty user", R"({"user":"","group_value":{"1":9}})", R"({"1":1})", 1, kNoUser},
      {"null user", R"({"user":null,"group_value":{"1":9}})", R"({"1":1})", 1, kNoUser},
      {"admin without demands", R"({"user":"admin"})", "null", 0, kAdmin},
      {"admin with nothing granted", R"({"user":"admin","group_value":{"1":0}})", R"({"1":5})", 0,
       kAdmin},
      {"admin skips malformed levels", R"({"user":"admin","group_value":[1]})", R"("x")", 0,
       kAdmin},
      {"Admin is an ordinary user", R"({"user":"Admin","group_value":{"1":9}})", "null", 1, ""},
      {"admin with a blank", R"({"user":"admin ","group_value":{"1":9}})", "{}", 1, ""},
      {"equal levels", R"({"user":"u","group_value":{"2":2}})", R"({"2":2})", 0, ""},
      {"lower level", R"({"user":"u","group_value":{"2":1}})", R"({"2":2})", 1, ""},
      {"higher level", R"({"user":"u","group_value":{"5":7}})", R"({"5":3})", 0, ""},
      {"any single category", R"({"user":"u","group_value":{"1":0,"3":1}})", R"({"1":5,"3":1})", 0,
       ""},
      {"worked example, other categories",
       R"({"user":"u","group_value":{"1":9,"2":9,"4":9,"5":9}})", R"({"3":2})", 1, ""},
      {"no demands", R"({"user":"u","group_value":{"1":9}})", "null", 1, ""},
      {"demands of 0 or less", R"({"user":"u","group_value":{"1":9,"2":9}})", R"({"1":0,"2":-1})",
       1, ""},
      {"negative granted", R"({"user":"u","group_value":{"1":-3}})", R"({"1":1})", 1, ""},
      {"negative both", R"({"user":"u","group_value":{"1":-1}})", R"({"1":-5})", 1, ""},
      {"no group_value", R"({"user":"u"})", R"({"1":1})", 1, ""},
      {"null group_value", R"({"user":"u","group_value":null})", R"({"1":1})", 1, ""},
      {"other names", R"({"user":"u","group_value":{"01":5,"6":5," 1":5,"0":5}})",
       R"({"01":1,"6":1," 1":1,"0":1})", 1, ""},
      {"true granted", R"({"user":"u","group_value":{"2":true}})", R"({"2":1})", 0, ""},
      {"true demanded", R"({"user":"u","group_value":{"2":1}})", R"({"2":true})", 0, ""},
      {"real granted truncated", R"({"user":"u","group_value":{"4":2.9}})", R"({"4":3})", 1, ""},
      {"real granted", R"({"user":"u","group_value":{"4":3.5}})", R"({"4":3})", 0, ""},
      {"real demand below 1", R"({"user":"u","group_value":{"4":5}})", R"({"4":0.9})", 1, ""},
      {"numeric user", R"({"user":7,"group_value":{"1":1}})", R"({"1":1})", 0, ""},
      {"numeric user without rights", R"({"user":0})", R"({"1":1})", 1, ""},
      {"largest levels", R"({"user":"u","group_value":{"3":2147483647}})", R"({"3":2147483647})", 0,
       ""},
      {"later categories not read", R"({"user":"u","group_value":{"1":1,"2":"text"}})",
       R"({"1":1,"2":[]})", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int log : {0, 1}) {
      group_role = json(c.account);
      const Json::Value before = group_role;
      const auto [result, out] = compare(json(c.role_right), log);
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(out, log ? c.trace : "");
      EXPECT_EQ(group_role, before);
      EXPECT_EQ(group_role.type(), before.type());
    }
  }
  group_role = Json::Value();
}

// Values outside the two formats raise the reader's LogicError; the gate's
// entry turns that into a refusal.
TEST(CheckRoleRight, ValuesOfTheWrongTypeThrow) {
  struct Case {
    const char* account;
    const char* role_right;
  } cases[] = {
      {"[1]", "{}"},
      {R"("text")", "{}"},
      {"5", "{}"},
      {R"({"user":["u"]})", "{}"},
      {R"({"user":{"n":"u"}})", "{}"},
      {R"({"user":"u","group_value":[1,2]})", R"({"1":1})"},
      {R"({"user":"u","group_value":"x"})", R"({"1":1})"},
      {R"({"user":"u","group_value":{}})", R"([1])"},
      {R"({"user":"u","group_value":{}})", R"("x")"},
      {R"({"user":"u","group_value":{"1":"5"}})", R"({"1":1})"},
      {R"({"user":"u","group_value":{"1":[5]}})", R"({"1":1})"},
      {R"({"user":"u","group_value":{"1":{}}})", R"({"1":1})"},
      {R"({"user":"u","group_value":{"1":3000000000}})", R"({"1":1})"},
      {R"({"user":"u","group_value":{"1":-2147483649}})", R"({"1":1})"},
      {R"({"user":"u","group_value":{"1":1}})", R"({"1":1e10})"},
      {R"({"user":"u","group_value":{"1":1}})", R"({"1":"1"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.account) + " against " + c.role_right);
    group_role = json(c.account);
    EXPECT_THROW(check_role_right(json(c.role_right)), Json::LogicError);
  }
  group_role = Json::Value();
}

// The comparison of what a real lookup brought back.
TEST(CheckRoleRight, AfterARealLookup) {
  enter_private_root();
  RoleService service(RoleService::kHttps);
  put_file(kSettingsPath, service.settings("https"));
  set_role_transfer(fetch_role_reply);
  const struct {
    const char* reply;
    int result;
  } cases[] = {{R"({"user":"admin"})", 0},
               {R"({"user":"operator","group_value":{"1":1,"3":2}})", 0},
               {R"({"user":"viewer","group_value":{"1":1,"3":1}})", 1},
               {"", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    group_role = Json::Value();
    service.reply(c.reply);
    CaptureStdout();
    get_role_right("session=1");
    GetCapturedStdout();
    EXPECT_EQ(check_role_right(json(R"({"3":2})")), c.result);
  }
  group_role = Json::Value();
}

}  // namespace
