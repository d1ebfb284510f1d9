// Replacing a file whole: the settings store's way of saving, so that a
// reader sees the old text or the new one, never a mix. Not installed with
// the store; the policy tool places policies with the same pieces.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace corvexin_config {

// Closes a descriptor on every way out, also when an allocation throws.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// A name for a new file beside base in its directory that nobody can guess:
// a dot, up to 64 bytes of base, a dot and 12 random letters. Empty when no
// random bytes can be had.
std::string name_beside(const std::string& base);

// Creates a file in the directory dir under such a name, only when that name
// is free, never through a link. Its descriptor (name set), or -1 with errno
// set.
int create_beside(int dir, const std::string& base, mode_t mode, std::string& name);

// A new file in the directory dir: removed on every way out unless it has
// been renamed into place.
struct NewFile {
  int dir;
  std::string name;  // empty until created
  FILE* stream = nullptr;
  bool placed = false;
  ~NewFile();
};

// Puts the text that write gives (0 done, -1 failed) into the file at path:
// into a new file beside it that gets the old file's mode, owner and group,
// reaches the disk and is renamed over it. A symbolic link at path is
// followed to the file it leads to, and stays. Where no such new file can be
// made, writes over the file in place as fopen(path, "w") does. 0 or -1; see
// ConfigFile::dump for the whole contract.
int replace_file(const char* path, const std::function<int(FILE*)>& write);

}  // namespace corvexin_config
