// Reading INI files into ConfigFile and looking settings up.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "config_file.h"
#include "gate_runner.h"

using namespace std::string_literals;

namespace {

// Writes text as a file in the scratch directory and returns its path.
std::string put(const Sandbox& box, const std::string& name, const std::string& text) {
  box.write("/" + name, text);
  return box.dir() + "/" + name;
}

struct Lookup {
  const char* what;
  std::string ini;
  const char* section;
  const char* key;
  const char* expected;  // null: getparam must return null
};

void expect_lookups(const std::vector<Lookup>& cases) {
  const Sandbox box;
  for (const Lookup& c : cases) {
    SCOPED_TRACE(c.what);
    ConfigFile config(put(box, "settings.ini", c.ini).c_str());
    ASSERT_TRUE(config.ok());
    const char* value = config.getparam(c.section, c.key);
    if (c.expected == nullptr) {
      EXPECT_EQ(value, nullptr) << value;
    } else {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(std::string(value), c.expected);
    }
  }
}

TEST(ConfigRead, LineForms) {
  expect_lookups({
      {"plain", "[main]\nkey=value\n", "main", "key", "value"},
      {"blanks around the name and after =", "[main]\n \tkey \t= \tvalue  \n", "main", "key",
       "value  "},
      {"; inside a value", "[main]\nkey = a ; b\n", "main", "key", "a ; b"},
      {"# and = inside a value", "[main]\nkey = a = b # c\n", "main", "key", "a = b # c"},
      {"empty value", "[main]\nkey =\n", "main", "key", ""},
      {"empty key", "[main]\n= value\n", "main", "", "value"},
      {"name characters", "[a-1.b_C]\nk-2.x_Y=v\n", "a-1.b_C", "k-2.x_Y", "v"},
      {"blank in a key", "[main]\nmy key = v\n", "main", "my", nullptr},
      {"colon instead of =", "[main]\nkey: v\n", "main", "key", nullptr},
      {"key alone", "[main]\nkey\n", "main", "key", nullptr},
      {"comment with #", "[main]\n#key=v\n", "main", "#key", nullptr},
      {"comment with ; after blanks", "[main]\n \t;key=v\nk=1\n", "main", ";key", nullptr},
      {"setting before any header", "key=v\n[main]\nk=1\n", "main", "key", nullptr},
      {"setting before any header, empty section", "key=v\n", "", "key", nullptr},
      {"last line without line feed", "[main]\nkey=v", "main", "key", "v"},
      {"high byte ends a key", "[main]\nk\xC3\xA9=v\n", "main", "k", nullptr},
      {"bytes after a NUL byte", "[main]\nkey=v\0tail\n"s, "main", "key", "v"},
  });
}

TEST(ConfigRead, Headers) {
  expect_lookups({
      {"case matters: Main", "[Main]\na=1\n[main]\na=2\n", "Main", "a", "1"},
      {"case matters: main", "[Main]\na=1\n[main]\na=2\n", "main", "a", "2"},
      {"blank after [ is ignored", "[s]\n[ main]\na=1\n", "s", "a", "1"},
      {"blank after [ names nothing", "[s]\n[ main]\na=1\n", "main", "a", nullptr},
      {"no ] is ignored", "[s]\n[main\na=1\n", "s", "a", "1"},
      {"text after ]", "[main] extra\na=1\n", "main", "a", "1"},
      {"text before ]", "[main x]\na=1\n", "main", "a", "1"},
      {"high byte ends a name", "[s\xC3\xA9]\na=1\n", "s", "a", "1"},
      {"blanks before [", " \t[main]\na=1\n", "main", "a", "1"},
      {"[] is ignored", "[s]\n[]\na=1\n", "s", "a", "1"},
      {"header without settings", "[empty]\n[s]\na=1\n", "empty", "a", nullptr},
      {"repeated key keeps the last", "[s]\na=1\na=2\n", "s", "a", "2"},
      {"repeated header merges: first part", "[s]\na=1\n[t]\nb=2\n[s]\nc=3\n", "s", "a", "1"},
      {"repeated header merges: second part", "[s]\na=1\n[t]\nb=2\n[s]\nc=3\n", "s", "c", "3"},
  });
}

TEST(ConfigRead, LineEndingsAndByteOrderMark) {
  expect_lookups({
      {"CR-LF", "[s]\r\nkey = v\r\nk2 = w\r\n", "s", "key", "v"},
      {"CR-LF on the last line", "[s]\r\nkey = v\r\n", "s", "key", "v"},
      {"one CR at most is removed", "[s]\nkey = v\r\r\n", "s", "key", "v\r"},
      {"CR without a line feed at the end", "[s]\nkey = v\r", "s", "key", "v"},
      {"mark before the first header", "\xEF\xBB\xBF[s]\r\nkey=v\r\n", "s", "key", "v"},
      {"mark on a later line is kept", "[s]\n\xEF\xBB\xBFkey=v\n", "s", "key", nullptr},
  });
}

// Lines around the reader's buffer sizes (1024, 2048, ...) are read whole,
// with or without a line feed, also as the last line and the first line.
TEST(ConfigRead, LongLines) {
  const Sandbox box;
  for (size_t length : {1019, 1020, 1021, 1022, 1023, 1024, 2045, 2046, 2047, 4093, 5000, 70000}) {
    for (const char* ending : {"\n", "\r\n", ""}) {
      SCOPED_TRACE("value length " + std::to_string(length) + (*ending ? " with" : " without") +
                   " line ending");
      std::string value(length, 'v');
      for (size_t i = 0; i < length; i += 97) value[i] = static_cast<char>('a' + i % 26);
      const std::string tail = *ending ? "after=1\n" : "";
      ConfigFile middle(put(box, "m.ini", "[s]\nk=" + value + ending + tail).c_str());
      ASSERT_NE(middle.getparam("s", "k"), nullptr);
      EXPECT_EQ(middle.getparam("s", "k"), value);
      if (*ending) {
        EXPECT_STREQ(middle.getparam("s", "after"), "1");
      }

      const std::string name(length, 'n');
      ConfigFile first(put(box, "f.ini", "\xEF\xBB\xBF[" + name + "]\n" + "k=1" + ending).c_str());
      EXPECT_STREQ(first.getparam(name.c_str(), "k"), "1");
    }
  }
}

// A NUL byte inside a line that fills the buffer does not cut the line in two:
// the bytes after it never become a setting of their own.
TEST(ConfigRead, NulByteInLongLine) {
  const Sandbox box;
  for (size_t pad : {1000, 1017, 1018, 1019, 3000}) {
    SCOPED_TRACE(pad);
    ConfigFile config(
        put(box, "n.ini", "[s]\nk=abc"s + '\0' + std::string(pad, 'x') + "evil=1\nok=2\n").c_str());
    EXPECT_STREQ(config.getparam("s", "k"), "abc");
    EXPECT_EQ(config.getparam("s", "evil"), nullptr);
    EXPECT_EQ(config.getparam("s", "xevil"), nullptr);
    EXPECT_STREQ(config.getparam("s", "ok"), "2");
  }
}

TEST(ConfigRead, DigitParam) {
  struct Case {
    const char* value;
    int expected;
  };
  const Case cases[] = {
      {"42", 42},
      {"-17x", -17},
      {"+5", 5},
      {"\n\v 12", 12},
      {"abc", 0},
      {"", 0},
      {"0x10", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", INT_MAX},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX},
      {"-99999999999999999999999", INT_MIN},
  };
  ConfigFile config;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    config.setparam("s", "n", c.value);
    EXPECT_EQ(config.getdigitparam("s", "n"), c.expected);
  }
  EXPECT_EQ(config.getdigitparam("s", "missing"), 0);
  EXPECT_EQ(config.getdigitparam("missing", "n"), 0);
}

TEST(ConfigRead, StrCmpNull) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0}, {nullptr, "a", 1}, {"a", nullptr, 1}, {"ABC", "abc", 0},
      {"a", "B", -1},        {"b", "A", 1},     {"", "", 0},       {"ab", "a", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " vs " + (c.b ? c.b : "(null)"));
    const int result = ConfigFile::strcmpnull(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
    if (c.a == nullptr || c.b == nullptr) {
      EXPECT_EQ(result, c.sign);
    }
  }
}

TEST(ConfigRead, MissingFileAndDefaultObject) {
  const Sandbox box;
  ConfigFile empty;
  EXPECT_FALSE(empty.ok());
  EXPECT_STREQ(empty.GetFilename(), "");
  EXPECT_EQ(empty.refresh(), -1);

  const std::string missing = box.dir() + "/missing.ini";
  ConfigFile config(missing.c_str());
  EXPECT_FALSE(config.ok());
  EXPECT_STREQ(config.GetFilename(), "");
  EXPECT_EQ(config.getparam("s", "k"), nullptr);
  EXPECT_EQ(config.read_config(""), -1);
  EXPECT_EQ(config.read_config(nullptr), -1);

  // A failed read leaves the store and the remembered name as they were.
  const std::string good = put(box, "good.ini", "[s]\nk=v\n");
  ASSERT_EQ(config.read_config(good.c_str()), 0);
  EXPECT_TRUE(config.ok());
  EXPECT_EQ(config.read_config(missing.c_str()), -1);
  EXPECT_FALSE(config.ok());
  EXPECT_STREQ(config.getparam("s", "k"), "v");
  EXPECT_EQ(config.GetFilename(), good);
}

// A path that opens but cannot be read (a directory) is a failed read, not an
// empty settings file.
TEST(ConfigRead, UnreadablePathFails) {
  const Sandbox box;
  ConfigFile config;
  EXPECT_EQ(config.read_config(box.dir().c_str()), -1);
  EXPECT_FALSE(config.ok());
  EXPECT_STREQ(config.GetFilename(), "");
}

TEST(ConfigRead, MergeAndRefresh) {
  const Sandbox box;
  const std::string a = put(box, "a.ini", "[s]\nfrom_a=1\nshared=a\n[only_a]\nx=1\n");
  const std::string b = put(box, "b.ini", "[s]\nfrom_b=2\nshared=b\n");
  ConfigFile config(a.c_str());
  ASSERT_EQ(config.read_config(b.c_str()), 0);
  EXPECT_STREQ(config.getparam("s", "from_a"), "1");
  EXPECT_STREQ(config.getparam("s", "from_b"), "2");
  EXPECT_STREQ(config.getparam("s", "shared"), "b");
  EXPECT_STREQ(config.getparam("only_a", "x"), "1");
  EXPECT_EQ(config.GetFilename(), b);

  // Refresh reads the remembered file alone, as it is now.
  put(box, "b.ini", "[s]\nshared=new\n");
  config.setparam("s", "edited", "1");
  EXPECT_EQ(config.refresh(), 0);
  EXPECT_TRUE(config.ok());
  EXPECT_EQ(config.getparam("s", "from_a"), nullptr);
  EXPECT_EQ(config.getparam("s", "from_b"), nullptr);
  EXPECT_EQ(config.getparam("s", "edited"), nullptr);
  EXPECT_EQ(config.getparam("only_a", "x"), nullptr);
  EXPECT_STREQ(config.getparam("s", "shared"), "new");
  EXPECT_EQ(config.GetFilename(), b);

  // Once the file is gone, refresh empties the store and fails.
  ASSERT_EQ(std::remove(b.c_str()), 0);
  EXPECT_EQ(config.refresh(), -1);
  EXPECT_FALSE(config.ok());
  EXPECT_EQ(config.getparam("s", "shared"), nullptr);
  char* all = config.Serialize();
  EXPECT_STREQ(all, "");
  delete[] all;
  EXPECT_EQ(config.GetFilename(), b);
}

// Values handed out stay valid while other settings come and go.
TEST(ConfigRead, LookupsStayValid) {
  ConfigFile config;
  config.setparam("s", "k", "kept");
  const char* kept = config.getparam("s", "k");
  for (int i = 0; i < 1000; ++i) {
    const std::string name = std::to_string(i);
    config.setparam(name.c_str(), name.c_str(), "x");
    config.setparam("s", name.c_str(), "x");
  }
  EXPECT_EQ(config.getparam("s", "k"), kept);
  EXPECT_STREQ(kept, "kept");
}

}  // namespace
