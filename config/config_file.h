// ConfigFile: the appliance's INI settings store. Reads sectioned key/value
// files into memory, answers lookups, edits settings and writes them out.
// This header is the whole public face; the work is done by ConfigFileImpl.
#pragma once

#include <cstdio>

class ConfigFileImpl;

class ConfigFile {
 public:
  ConfigFile();
  explicit ConfigFile(const char* path);
  virtual ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  // Reading and lookup.
  bool ok();
  int read_config(const char* path);
  int refresh();
  const char* GetFilename();
  const char* getparam(const char* section, const char* key);
  int getdigitparam(const char* section, const char* key);
  static int strcmpnull(const char* a, const char* b);

  // Editing and output. setparam takes any strings; the char arrays returned
  // are the caller's, to be released with delete[].
  void setparam(const char* section, const char* key, const char* value);
  void unsetparam(const char* section, const char* key);
  // The flat form, not an INI file: one "key=value\n" line per setting (no
  // blanks around '='), in key order, and no section header. SerializeSection
  // gives one section's lines ("" when it is missing or empty); Serialize
  // gives every section's lines one after the other, in section order, so
  // keys of different sections cannot be told apart there. Never null.
  char* SerializeSection(const char* section);
  char* Serialize();

  // The INI form, which read_config reads back: per section a "[section]"
  // header line, then one "key = value" line per setting.
  // dump(path) writes the INI form to path, and dump() to the file last read;
  // 0 on success, -1 on failure. The file is replaced whole: the text goes to
  // a new file beside it, which gets the old file's mode, owner and group (a
  // new file: 0666 under the umask), reaches the disk, and is renamed over it.
  // A reader sees the old settings or the new ones, never a mix or an empty
  // file; a failure (a full disk, say) leaves the old file as it was and no
  // other file behind. When path is a symbolic link, the file it leads to is
  // replaced and the link stays. A file the caller may not write is never
  // replaced. Where no new file can be made (path is no regular file or has
  // a file mounted on it, its directory is not writable, or the caller, not
  // being root, cannot give the new file the old one's owner or group), dump
  // writes over the file in place as fopen(path, "w") does, and a failure can
  // leave it short. -1 with the new file in place means only that the
  // directory could not be synced.
  //
  // Only a faithful file: dump (both forms) and dump_to_FILE write nothing
  // and return -1 (errno EINVAL) when the file would read back as other
  // settings than the store holds, that is when a section name is empty or
  // holds anything but ASCII letters, digits, '-', '.' and '_' (the header
  // syntax holds no other), when a key holds anything but those (the reader
  // would end the key there, or take the line as a comment or a header; an
  // empty key is fine), or when a value holds a line feed or a carriage
  // return. Blanks before a value are not refused; reading drops them.
  //
  // Links as the kernel follows them: a symbolic link that sits in a sticky
  // directory writable by others (as /tmp) is followed only when it belongs
  // to the caller's effective user or to the directory's owner, whether the
  // kernel's fs.protected_symlinks is on or not; otherwise dump writes
  // nothing and returns -1 (errno EACCES). Where such a directory holds the
  // file itself and dump writes in place, it never writes through a link.
  int dump(const char* path);
  int dump();
  int dump_to_FILE(FILE* file);

  // Warning-message files: the text with every backslash-n turned into "<BR>".
  char* ReadWarnMsg(const char* path);

 private:
  ConfigFileImpl* impl;
};
