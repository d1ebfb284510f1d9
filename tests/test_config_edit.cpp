// Editing a ConfigFile and giving it back as flat text and as an INI file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config_file.h"
#include "config_file_impl.h"
#include "gate_runner.h"

namespace {

// The text of a new[] array handed out by ConfigFile, which it then frees.
std::string take(char* text) {
  EXPECT_NE(text, nullptr);
  const std::string copy = text ? text : "";
  delete[] text;
  return copy;
}

// The INI form, written through dump_to_FILE into a temporary stream.
std::string ini_form(ConfigFile& config) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
  EXPECT_EQ(config.dump_to_FILE(file.get()), 0);
  std::rewind(file.get());
  std::string text;
  for (int c; (c = std::fgetc(file.get())) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(ConfigEdit, TextForms) {
  ConfigFile config;
  config.setparam("b", "y", "2");
  config.setparam("a", "x", "1");
  config.setparam("a", "w", "");
  EXPECT_EQ(ini_form(config), "[a]\nw = \nx = 1\n[b]\ny = 2\n");
  EXPECT_EQ(take(config.Serialize()), "w=\nx=1\ny=2\n");
  EXPECT_EQ(take(config.SerializeSection("a")), "w=\nx=1\n");
  EXPECT_EQ(take(config.SerializeSection("b")), "y=2\n");
  EXPECT_EQ(take(config.SerializeSection("missing")), "");
  EXPECT_EQ(take(ConfigFile().Serialize()), "");
}

// Each case is a series of edits on a store read from "[s]\nk=v\n", and the
// INI and flat forms it must end with.
TEST(ConfigEdit, Edits) {
  struct Case {
    const char* what;
    std::function<void(ConfigFile&)> edit;
    const char* ini;
    const char* flat;
  };
  const std::vector<Case> cases = {
      {"new section", [](ConfigFile& c) { c.setparam("t", "a", "1"); }, "[s]\nk = v\n[t]\na = 1\n",
       "k=v\na=1\n"},
      {"replace a value", [](ConfigFile& c) { c.setparam("s", "k", "w"); }, "[s]\nk = w\n",
       "k=w\n"},
      {"unset in a missing section creates it empty", [](ConfigFile& c) { c.unsetparam("n", "k"); },
       "[n]\n[s]\nk = v\n", "k=v\n"},
      {"unset the last key leaves the header", [](ConfigFile& c) { c.unsetparam("s", "k"); },
       "[s]\n", ""},
      {"unset a missing key", [](ConfigFile& c) { c.unsetparam("s", "x"); }, "[s]\nk = v\n",
       "k=v\n"},
      {"unset then set again",
       [](ConfigFile& c) {
         c.unsetparam("s", "k");
         c.setparam("s", "k", "again");
       },
       "[s]\nk = again\n", "k=again\n"},
      {"any strings are written as they are",
       [](ConfigFile& c) { c.setparam("a b", " k=", "x\ny"); }, "[a b]\n k= = x\ny\n[s]\nk = v\n",
       " k==x\ny\nk=v\n"},
      {"unsigned byte-wise order",
       [](ConfigFile& c) {
         for (const char* name : {"\xC3\xA9", "z", "Z", "ab", "a", ""}) c.setparam(name, "k", "1");
         c.setparam("s", "\x80", "2");
         c.setparam("s", "K", "3");
       },
       "[]\nk = 1\n[Z]\nk = 1\n[a]\nk = 1\n[ab]\nk = 1\n[s]\nK = 3\nk = v\n\x80 = 2\n[z]\nk = "
       "1\n[\xC3\xA9]\nk = 1\n",
       "k=1\nk=1\nk=1\nk=1\nK=3\nk=v\n\x80=2\nk=1\nk=1\n"},
  };
  const Sandbox box;
  box.write("/s.ini", "[s]\nk=v\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConfigFile config((box.dir() + "/s.ini").c_str());
    c.edit(config);
    EXPECT_EQ(ini_form(config), c.ini);
    EXPECT_EQ(take(config.Serialize()), c.flat);
  }
}

TEST(ConfigEdit, EditsShowInLookups) {
  ConfigFile config;
  config.setparam("s", "k", "1");
  EXPECT_STREQ(config.getparam("s", "k"), "1");
  config.setparam("s", "k", "2");
  EXPECT_STREQ(config.getparam("s", "k"), "2");
  config.unsetparam("s", "k");
  EXPECT_EQ(config.getparam("s", "k"), nullptr);
  config.unsetparam("new", "k");
  EXPECT_EQ(config.getparam("new", "k"), nullptr);
}

// The string forms of the implementation append and never clear.
TEST(ConfigEdit, ImplementationStringForms) {
  ConfigFileImpl impl;
  impl.setparam("a", "x", "1");
  impl.setparam("b", "y", "2");
  std::string out = "before\n";
  EXPECT_EQ(&impl.SerializeSection("b", out), &out);
  EXPECT_EQ(out, "before\ny=2\n");
  EXPECT_EQ(impl.Serialize(out), "before\ny=2\nx=1\ny=2\n");
  EXPECT_EQ(impl.SerializeSection("missing", out), "before\ny=2\nx=1\ny=2\n");
  const std::unique_ptr<std::string> all(impl.Serialize());
  EXPECT_EQ(*all, "x=1\ny=2\n");
  const std::unique_ptr<std::string> one(impl.SerializeSection("a"));
  EXPECT_EQ(*one, "x=1\n");
}

// What dump writes reads back as the same settings; the file's comments,
// order, marks, leading blanks of values and empty sections are not kept.
TEST(ConfigEdit, RoundTrip) {
  const Sandbox box;
  box.write("/in.ini",
            "\xEF\xBB\xBF# settings\r\n[zeta]\r\nb = 2\r\na=  lead\r\n[empty]\r\n\r\n"
            "[alpha]\r\nkey = a ; b = c  \r\n; end\r\n");
  ConfigFile config((box.dir() + "/in.ini").c_str());
  const std::string out = box.dir() + "/out.ini";
  ASSERT_EQ(config.dump(out.c_str()), 0);
  EXPECT_EQ(read_file(out), "[alpha]\nkey = a ; b = c  \n[zeta]\na = lead\nb = 2\n");

  ConfigFile again(out.c_str());
  EXPECT_EQ(take(again.Serialize()), take(config.Serialize()));
  EXPECT_EQ(ini_form(again), read_file(out));

  // An empty section is written as a bare header and is gone after reading.
  config.unsetparam("alpha", "key");
  ASSERT_EQ(config.dump(out.c_str()), 0);
  EXPECT_EQ(read_file(out), "[alpha]\n[zeta]\na = lead\nb = 2\n");
  ASSERT_EQ(again.refresh(), 0);
  EXPECT_EQ(ini_form(again), "[zeta]\na = lead\nb = 2\n");
}

TEST(ConfigEdit, DumpBackToTheFileRead) {
  const Sandbox box;
  box.write("/s.ini", "; comment\n[s]\nk=v\n");
  const std::string path = box.dir() + "/s.ini";
  ConfigFile config(path.c_str());
  config.setparam("s", "n", "1");
  EXPECT_EQ(config.dump(), 0);
  EXPECT_EQ(read_file(path), "[s]\nk = v\nn = 1\n");

  ConfigFile unread;
  unread.setparam("s", "k", "v");
  EXPECT_EQ(unread.dump(), -1);
}

TEST(ConfigEdit, DumpFailures) {
  const Sandbox box;
  ConfigFile config;
  config.setparam("s", "k", "v");

  const std::string nowhere = box.dir() + "/no/such/dir/out.ini";
  EXPECT_EQ(config.dump(nowhere.c_str()), -1);
  EXPECT_FALSE(box.exists("/no"));
  EXPECT_EQ(config.dump(""), -1);

  // A full disk: the writes or the flush fail, and dump says so.
  EXPECT_EQ(config.dump("/dev/full"), -1);

  // dump_to_FILE reports it too and leaves the caller's stream open.
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(config.dump_to_FILE(full), -1);
  EXPECT_NE(fcntl(fileno(full), F_GETFD), -1);
  std::fclose(full);

  // Nothing to write is no failure, even on a full disk.
  EXPECT_EQ(ConfigFile().dump("/dev/full"), 0);
}

// dump_to_FILE neither closes the caller's stream nor writes anything else.
TEST(ConfigEdit, DumpToOpenStream) {
  ConfigFile config;
  config.setparam("s", "k", "v");
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
  std::fputs("head\n", file.get());
  EXPECT_EQ(config.dump_to_FILE(file.get()), 0);
  std::fputs("tail\n", file.get());
  std::rewind(file.get());
  char line[64];
  std::string text;
  while (std::fgets(line, sizeof line, file.get())) text += line;
  EXPECT_EQ(text, "head\n[s]\nk = v\ntail\n");
}

}  // namespace
