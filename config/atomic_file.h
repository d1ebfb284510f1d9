// Replacing a file whole: the settings store's way of saving, so that a
// reader sees the old text or the new one, never a mix. Private to config/.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>

namespace corvexin_config {

// Closes a descriptor on every way out, also when an allocation throws.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Puts the text that write gives (0 done, -1 failed) into the file at path:
// into a new file beside it that gets the old file's mode, owner and group,
// reaches the disk and is renamed over it. A symbolic link at path is
// followed to the file it leads to, and stays. Where no such new file can be
// made, writes over the file in place as fopen(path, "w") does. 0 or -1; see
// ConfigFile::dump for the whole contract.
int replace_file(const char* path, const std::function<int(FILE*)>& write);

}  // namespace corvexin_config
