// ConfigFileImpl: the store behind ConfigFile. Private to config/; callers
// include config_file.h only.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

class ConfigFileImpl {
 public:
  // Orders names byte by byte as unsigned bytes (a proper prefix first), and
  // lets lookups take a string_view without building a std::string.
  struct ByteLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a < b; }
  };
  using Section = std::map<std::string, std::string, ByteLess>;
  using Sections = std::map<std::string, Section, ByteLess>;

  ConfigFileImpl() = default;
  explicit ConfigFileImpl(const char* path) { read_config(path); }

  // Reading and lookup.
  bool ok() const { return loaded; }
  int read_config(const char* path);
  int refresh();
  const char* GetFilename() const { return filename.c_str(); }
  const char* getparam(const char* section, const char* key) const;
  int getdigitparam(const char* section, const char* key) const;

  // Editing.
  void setparam(const char* section, const char* key, const char* value);
  void unsetparam(const char* section, const char* key);

  // Flat form: "key=value\n" per setting. The appending forms never clear out;
  // the others return a new string that the caller deletes.
  std::string& SerializeSection(const char* section, std::string& out) const;
  std::string& Serialize(std::string& out) const;
  std::string* SerializeSection(const char* section) const;
  std::string* Serialize() const;

  // INI form. 0 on success, -1 on failure. dump replaces the file whole, or
  // writes in place where it cannot (see config_file.h).
  int dump(const char* path) const;
  int dump() const { return dump(filename.c_str()); }
  int dump_to_FILE(FILE* file) const;

  // A warning-message file with every backslash-n turned into "<BR>", as a
  // new[] array the caller delete[]s; null when the file cannot be read.
  char* ReadWarnMsg(const char* path) const;

 private:
  void parse_line(char* line, bool first_line, std::string& current, Section*& section);

  Sections sections;
  std::string filename;  // path of the last read that could open its file
  bool loaded = false;   // the last read could open (and read) its file
};
