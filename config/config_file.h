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

  // Editing and output. The char arrays returned are the caller's, to be
  // released with delete[].
  void setparam(const char* section, const char* key, const char* value);
  void unsetparam(const char* section, const char* key);
  char* SerializeSection(const char* section);
  char* Serialize();
  int dump(const char* path);
  int dump();
  int dump_to_FILE(FILE* file);

  // Warning-message files: the text with every backslash-n turned into "<BR>".
  char* ReadWarnMsg(const char* path);

 private:
  ConfigFileImpl* impl;
};
