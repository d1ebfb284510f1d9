// The INI reading peer: usage ini_inih FILE SECTION KEY. Reads FILE with inih
// into a map of maps, looks one setting up and prints it.
#include <ini.h>

#include <cstdio>
#include <map>
#include <string>

using Store = std::map<std::string, std::map<std::string, std::string>>;

static int store_setting(void* user, const char* section, const char* key, const char* value) {
  (*static_cast<Store*>(user))[section][key] = value;
  return 1;
}

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  Store store;
  if (ini_parse(argv[1], store_setting, &store) < 0) return 2;
  auto section = store.find(argv[2]);
  if (section == store.end()) return 1;
  auto value = section->second.find(argv[3]);
  if (value == section->second.end()) return 1;
  puts(value->second.c_str());
  return 0;
}
