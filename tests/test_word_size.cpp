// Behaviour that must not depend on the word size: the suite runs once against
// an x86_64 build and once against a 32-bit x86 build of the gate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "gate_runner.h"

static_assert(sizeof(off_t) == 8, "the gate and its tests are built with large-file support");

namespace {

constexpr const char kRefuseAll[] =
    R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})";

// The gate under test has the word size of the test program, so a leg never
// passes by testing the other leg's binary.
TEST(WordSize, GateIsBuiltForTheTestsWordSize) {
  const std::string header = read_file(gate_binary()).substr(0, 5);
  ASSERT_EQ(header.substr(0, 4),
            "\x7f"
            "ELF");
  EXPECT_EQ(header[4], sizeof(void*) == 4 ? 1 : 2);  // ELFCLASS32 or ELFCLASS64
}

// The log is appended to and never rotated, so it may outgrow what a 32-bit
// offset can address. A refusal must still be recorded behind the old end,
// and the old content must stay as it was. The big files are sparse.
TEST(WordSize, RefusalIsLoggedBehindALogPastTwoAndFourGiB) {
  const std::string expected = "rm -rf /\ncheck failed, skip cmd\n\n";
  for (const off_t old_size :
       {off_t{0x7fffffff}, off_t{0x80000000} + 10, off_t{0x100000000} + 10}) {
    SCOPED_TRACE(old_size);
    Sandbox s;
    s.policy(kRefuseAll);
    s.make_log_dir();
    const std::string log = s.dir() + "/var/varn/log/corvexin_check.log";
    int fd = open(log.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "x", 1, old_size - 1), 1);
    close(fd);

    const RunResult r = s.gate({"rm -rf /"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");

    struct stat st {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, old_size + static_cast<off_t>(expected.size()));
    std::string tail(expected.size() + 1, '\0');
    fd = open(log.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pread(fd, tail.data(), tail.size(), old_size - 1), static_cast<ssize_t>(tail.size()));
    close(fd);
    EXPECT_EQ(tail, "x" + expected);
  }
}

// The policy's numbers are read as 32-bit values on every word size: the same
// value allows, refuses or ends the run alike on both builds.
TEST(WordSize, PolicyNumbersAtThe32BitLimits) {
  struct Case {
    const char* policy;
    bool runs;
  };
  const Case cases[] = {
      {R"({"scripts_section": {"check_method": 4294967295}, "ui_section": {"check_method": 2}})",
       false},
      {R"({"scripts_section": {"check_method": 4294967296}})", false},
      {R"({"scripts_section": {"check_method": -1}})", false},
      {R"({"scripts_section": {"check_method": 0, "is_type_check": 4294967295}})", true},
      {R"({"scripts_section": {"check_method": 0, "is_cookie_check": 4294967296}})", false},
      {R"({"enable_log": 2147483647})", true},
      {R"({"enable_log": -2147483648})", true},
      {R"({"enable_log": 2147483648})", false},
      {R"({"enable_log": -2147483649})", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy);
    Sandbox s;
    s.policy(c.policy);
    s.make_log_dir();
    const RunResult r = s.gate({"echo ran"});
    if (c.runs) {
      EXPECT_EQ(r.status, 0);
      EXPECT_NE(r.out.find("ran\n"), std::string::npos);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out.find("ran\n"), std::string::npos);
      EXPECT_NE(s.log().find("echo ran\ncheck failed, skip cmd\n"), std::string::npos);
    }
  }
}

}  // namespace
