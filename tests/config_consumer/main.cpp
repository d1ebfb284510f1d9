// Prints the web service port from the settings file named on the command
// line, as the appliance's other programs read it.
#include <corvexin/config_file.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ConfigFile settings(argv[1]);
  const char* port = settings.getparam("http", "kelvo_web_server");
  if (!settings.ok() || port == nullptr) return 1;
  std::puts(port);
  return 0;
}
