// Editing a ConfigFile and giving it back as flat text and as an INI file.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config_file.h"
#include "config_file_impl.h"
#include "gate_runner.h"
#include "private_root.h"

namespace {

// The text of a new[] array handed out by ConfigFile, which it then frees.
std::string take(char* text) {
  EXPECT_NE(text, nullptr);
  const std::string copy = text ? text : "";
  delete[] text;
  return copy;
}

// The INI form, written through dump_to_FILE into a temporary stream, which
// returns result.
std::string ini_form(ConfigFile& config, int result = 0) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
  EXPECT_EQ(config.dump_to_FILE(file.get()), result);
  std::rewind(file.get());
  std::string text;
  for (int c; (c = std::fgetc(file.get())) != EOF;) text += static_cast<char>(c);
  return text;
}

// The names in a directory.
std::set<std::string> names(const std::string& dir) {
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    found.insert(entry.path().filename());
  }
  return found;
}

struct stat status(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Settings whose first and last values name one version, beside the port, in
// lines of about 56 bytes: a reader can tell a whole file from a torn one.
void versioned(ConfigFile& config, const std::string& version, int keys) {
  for (int i = 0; i < keys; ++i) {
    const std::string key = "key" + std::to_string(i);
    config.setparam("data", key.c_str(), (version + std::string(40, '-') + key).c_str());
  }
  config.setparam("a", "first", version.c_str());
  config.setparam("http", "kelvo_web_server", "8443");
  config.setparam("zz", "last", version.c_str());
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
// INI and flat forms it must end with. dump_to_FILE refuses (-1) and writes
// nothing when a name or value would read back as something else.
TEST(ConfigEdit, Edits) {
  struct Case {
    const char* what;
    std::function<void(ConfigFile&)> edit;
    const char* ini;
    const char* flat;
    int dumped = 0;
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
      {"any strings are kept, but not written when they would not read back",
       [](ConfigFile& c) { c.setparam("a b", " k=", "x\ny"); }, "", " k==x\ny\nk=v\n", -1},
      {"an injected line in a value",
       [](ConfigFile& c) { c.setparam("system", "hostname", "b\n[http]\nkelvo_web_server = 1"); },
       "", "k=v\nhostname=b\n[http]\nkelvo_web_server = 1\n", -1},
      {"a carriage return", [](ConfigFile& c) { c.setparam("s", "k", "v\r"); }, "", "k=v\r\n", -1},
      {"a section name the header cannot hold", [](ConfigFile& c) { c.setparam("a]b", "k", "v"); },
       "", "k=v\nk=v\n", -1},
      {"a key read as a comment", [](ConfigFile& c) { c.setparam("s", "#k", "v"); }, "",
       "#k=v\nk=v\n", -1},
      {"an injected line in a key",
       [](ConfigFile& c) { c.setparam("s", "x\n[http]\nkelvo_web_server", "1"); }, "",
       "k=v\nx\n[http]\nkelvo_web_server=1\n", -1},
      {"unsigned byte-wise order",
       [](ConfigFile& c) {
         for (const char* name : {"\xC3\xA9", "z", "Z", "ab", "a", ""}) c.setparam(name, "k", "1");
         c.setparam("s", "\x80", "2");
         c.setparam("s", "K", "3");
       },
       "", "k=1\nk=1\nk=1\nk=1\nK=3\nk=v\n\x80=2\nk=1\nk=1\n", -1},
  };
  const Sandbox box;
  box.write("/s.ini", "[s]\nk=v\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConfigFile config((box.dir() + "/s.ini").c_str());
    c.edit(config);
    EXPECT_EQ(ini_form(config, c.dumped), c.ini);
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

// A full disk: the settings file stays byte for byte, and nothing is left
// beside it.
TEST(ConfigEdit, FullDiskKeepsTheOldFile) {
  enter_private_root();
  make_directories("/etc/kelvo");
  ASSERT_EQ(mount("store-test", "/etc/kelvo", "tmpfs", 0, "size=64k"), 0) << strerror(errno);
  const char* path = "/etc/kelvo/halvora.ini";
  ConfigFile config;
  versioned(config, "old", 540);  // about 31 KB
  ASSERT_EQ(config.dump(path), 0);
  const std::string old = read_file(path);
  struct statvfs disk {};
  ASSERT_EQ(statvfs("/etc/kelvo", &disk), 0);
  const auto free_bytes = static_cast<size_t>(disk.f_bavail * disk.f_bsize);  // under 64 KB
  put_file("/etc/kelvo/filler", std::string(free_bytes - 8192, 'x'));

  versioned(config, "new", 1000);
  EXPECT_EQ(config.dump(path), -1);
  EXPECT_TRUE(read_file(path) == old) << "the old settings were changed";
  EXPECT_EQ(names("/etc/kelvo"), (std::set<std::string>{"filler", "halvora.ini"}));
  umount2("/etc/kelvo", MNT_DETACH);
}

// A reader in another process, reading the settings as the gate does, sees
// one whole version or the other while the file is dumped again and again.
TEST(ConfigEdit, ReadersNeverSeeATornFile) {
  const Sandbox box;
  const std::string path = box.dir() + "/halvora.ini";
  ConfigFile one, two;
  versioned(one, "one", 300);
  versioned(two, "two", 100);
  ASSERT_EQ(one.dump(path.c_str()), 0);
  const pid_t reader = fork();
  ASSERT_GE(reader, 0);
  while (reader == 0) {  // until killed, or a torn file is seen
    ConfigFile seen(path.c_str());
    const char *first = seen.getparam("a", "first"), *last = seen.getparam("zz", "last");
    if (!first || !last || strcmp(first, last) != 0 || !seen.getparam("http", "kelvo_web_server")) {
      _exit(1);
    }
  }
  for (int i = 0; i < 200; ++i) EXPECT_EQ((i % 2 ? one : two).dump(path.c_str()), 0);
  kill(reader, SIGKILL);
  int wstatus = 0;
  ASSERT_EQ(waitpid(reader, &wstatus, 0), reader);
  EXPECT_TRUE(WIFSIGNALED(wstatus)) << "a reader saw a torn file";
}

// dump replaces the file at the end of a chain of links, relative ones too;
// the links stay, and the file keeps its mode, owner and group. A new file,
// here behind a dangling link, gets 0666 under the umask.
TEST(ConfigEdit, DumpKeepsModeOwnerGroupAndLinks) {
  const Sandbox box;
  const std::string dir = box.dir(), real = dir + "/real.ini";
  box.write("/real.ini", "[s]\nk = old\n");
  ASSERT_EQ(chown(real.c_str(), 1234, 5678), 0);
  ASSERT_EQ(chmod(real.c_str(), 02640), 0);
  std::filesystem::create_directory(dir + "/sub");
  std::filesystem::create_symlink("../real.ini", dir + "/sub/link");
  std::filesystem::create_symlink("sub/link", dir + "/link");
  std::filesystem::create_symlink("made.ini", dir + "/dangling");
  const ino_t inode = status(real).st_ino;

  ConfigFile config;
  config.setparam("s", "k", "new");
  ASSERT_EQ(config.dump((dir + "/link").c_str()), 0);
  const mode_t mask = umask(027);
  EXPECT_EQ(config.dump((dir + "/dangling").c_str()), 0);
  umask(mask);
  for (const char* file : {"/real.ini", "/made.ini"}) {
    EXPECT_EQ(read_file(dir + file), "[s]\nk = new\n");
  }
  const struct stat replaced = status(real);
  EXPECT_NE(replaced.st_ino, inode);
  EXPECT_EQ(replaced.st_mode, S_IFREG | 02640);
  EXPECT_EQ(replaced.st_uid, 1234u);
  EXPECT_EQ(replaced.st_gid, 5678u);
  EXPECT_EQ(status(dir + "/made.ini").st_mode, S_IFREG | 0640);
  for (const char* link : {"/link", "/sub/link", "/dangling"}) {
    EXPECT_TRUE(S_ISLNK(status(dir + link).st_mode)) << link;
  }
  EXPECT_EQ(names(dir), (std::set<std::string>{"dangling", "link", "made.ini", "real.ini", "sub"}));
}

// Where no file can replace the old one, a caller that may write the file
// still saves in place (same inode, same owner); one that may not write it
// changes nothing. The caller is "nobody", in a child process.
TEST(ConfigEdit, DumpInPlaceWhereNoReplacementCanBeMade) {
  const uid_t nobody = 65534;
  struct Case {
    const char* what;
    mode_t dir_mode;
    uid_t owner;
    mode_t mode;
    bool saved;
  } const cases[] = {
      {"directory not writable", 0755, nobody, 0644, true},
      {"another owner's file", 0777, 0, 0666, true},
      {"file not writable", 0777, nobody, 0444, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Sandbox box;
    const std::string dir = box.dir() + "/d", path = dir + "/s.ini";
    box.write("/d/s.ini", "old");
    ASSERT_EQ(chmod(box.dir().c_str(), 0755) | chmod(dir.c_str(), c.dir_mode) |
                  chown(path.c_str(), c.owner, c.owner) | chmod(path.c_str(), c.mode),
              0);
    const ino_t inode = status(path).st_ino;
    const pid_t child = fork();
    if (child == 0) {
      if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
          setresuid(nobody, nobody, nobody) != 0) {
        _exit(2);
      }
      ConfigFile config;
      config.setparam("s", "k", "new");
      _exit(config.dump(path.c_str()) == 0 ? 0 : 1);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), c.saved ? 0 : 1);
    EXPECT_EQ(read_file(path), c.saved ? "[s]\nk = new\n" : "old");
    EXPECT_EQ(status(path).st_ino, inode);
    EXPECT_EQ(status(path).st_uid, c.owner);
    EXPECT_EQ(names(dir), std::set<std::string>{"s.ini"});
  }
}

// A link in a sticky directory that others may write is followed only when
// it is the caller's or the directory owner's, as the kernel's
// fs.protected_symlinks has it, whether that is on or not. Each such link is
// reached through a link of root's in a plain directory.
TEST(ConfigEdit, DumpFollowsOnlyTheLinksTheKernelWould) {
  const uid_t nobody = 65534;
  struct Case {
    const char* what;
    uid_t caller, dir_owner;
    mode_t dir_mode;
    uid_t link_owner;
    int error;  // 0: followed
  } const cases[] = {
      {"another user's link in a sticky directory", 0, 0, 01777, nobody, EACCES},
      {"the caller's own link there", 0, 0, 01777, 0, 0},
      {"the directory owner's link", 0, nobody, 01777, nobody, 0},
      {"the caller's own link, the caller not root", nobody, 0, 01777, nobody, 0},
      {"another user's link, the directory not sticky", 0, 0, 0777, nobody, 0},
      {"another user's link, the directory not writable by others", 0, 0, 01775, nobody, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Sandbox box;
    const std::string dir = box.dir(), shared = dir + "/shared", target = dir + "/out/app.ini";
    for (const std::string& made : {dir + "/out", shared}) std::filesystem::create_directory(made);
    std::filesystem::create_symlink(target, shared + "/app.ini");
    std::filesystem::create_symlink("shared/app.ini", dir + "/app.ini");
    ASSERT_EQ(chmod(dir.c_str(), 0755) | chmod((dir + "/out").c_str(), 0777) |
                  chown(shared.c_str(), c.dir_owner, 0) | chmod(shared.c_str(), c.dir_mode) |
                  lchown((shared + "/app.ini").c_str(), c.link_owner, 0) | seteuid(c.caller),
              0);
    ConfigFile config;
    config.setparam("s", "k", "v");
    const int result = config.dump((dir + "/app.ini").c_str()), error = result != 0 ? errno : 0;
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(std::filesystem::exists(target), c.error == 0);
  }
}

}  // namespace
