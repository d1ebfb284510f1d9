// Warning-message files: escaped line breaks become "<BR>".
#include <gtest/gtest.h>

#include <string>

#include "config_file.h"
#include "gate_runner.h"

using namespace std::string_literals;

namespace {

TEST(WarnMsg, Conversions) {
  struct Case {
    const char* what;
    std::string file;
    std::string expected;
  };
  const Case cases[] = {
      {"escaped line break", "one\\ntwo", "one<BR>two"},
      {"real line feed stays", "one\ntwo\n", "one\ntwo\n"},
      {"trailing escape", "end\\n", "end<BR>"},
      {"two in a row", "a\\n\\nb", "a<BR><BR>b"},
      {"escaped backslash is not special", "a\\\\nb", "a\\<BR>b"},
      {"backslash alone", "a\\", "a\\"},
      {"n after an escape", "\\nn", "<BR>n"},
      {"byte-order mark dropped", "\xEF\xBB\xBFx\\ny", "x<BR>y"},
      {"byte-order mark alone", "\xEF\xBB\xBF", ""},
      {"mark later is kept", "x\xEF\xBB\xBF", "x\xEF\xBB\xBF"},
      {"half a mark is kept", "\xEF\xBB", "\xEF\xBB"},
      {"empty file", "", ""},
      {"text ends at a NUL byte", "ab\0cd\\n"s, "ab"},
      {"mark then NUL byte", "\xEF\xBB\xBF\0x"s, ""},
      {"long text", std::string(100000, 'x') + "\\n" + std::string(5000, 'y'),
       std::string(100000, 'x') + "<BR>" + std::string(5000, 'y')},
  };
  const Sandbox box;
  ConfigFile config;  // no file read: the store plays no part
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    box.write("/warn.txt", c.file);
    char* text = config.ReadWarnMsg((box.dir() + "/warn.txt").c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), c.expected);
    delete[] text;
  }
}

TEST(WarnMsg, Unreadable) {
  const Sandbox box;
  ConfigFile config;
  EXPECT_EQ(config.ReadWarnMsg((box.dir() + "/missing.txt").c_str()), nullptr);
  EXPECT_EQ(config.ReadWarnMsg(box.dir().c_str()), nullptr);  // a directory
  EXPECT_EQ(config.ReadWarnMsg(""), nullptr);
}

// Reading a message neither needs nor touches the settings.
TEST(WarnMsg, LeavesStoreAlone) {
  const Sandbox box;
  box.write("/s.ini", "[s]\nk=v\n");
  box.write("/warn.txt", "[t]\nx=1\n");
  ConfigFile config((box.dir() + "/s.ini").c_str());
  delete[] config.ReadWarnMsg((box.dir() + "/warn.txt").c_str());
  EXPECT_EQ(config.GetFilename(), box.dir() + "/s.ini");
  EXPECT_EQ(config.getparam("t", "x"), nullptr);
  EXPECT_STREQ(config.getparam("s", "k"), "v");
}

}  // namespace
