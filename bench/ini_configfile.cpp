// ConfigFile reading an INI file: usage ini_configfile FILE SECTION KEY.
// Constructs the store from FILE, looks one setting up and prints it.
#include <cstdio>

#include "config_file.h"

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  ConfigFile config(argv[1]);
  const char* value = config.getparam(argv[2], argv[3]);
  if (value == nullptr) return 1;
  puts(value);
  return 0;
}
