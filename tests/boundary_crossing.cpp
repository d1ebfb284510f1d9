// Deliberate crossings of the gate's boundaries, one per object (see
// CMakeLists.txt): each is linked against a library's boundary object and
// must fail there with an undefined reference.
#if defined(CROSSING_RULES_ENTRY)
// The decision rules reaching into the entry.
#include "entry.h"
bool crossing() {
  return started_with_privilege();
}
#elif defined(CROSSING_RULES_SETTINGS)
// The decision rules reading the settings store.
#include "config_file.h"
bool crossing() {
  ConfigFile settings("/etc/kelvo/halvora.ini");
  return settings.getparam("http", "kelvo_web_server") != nullptr;
}
#elif defined(CROSSING_LOOKUP_RULES)
// The role lookup writing the rules' log.
#include "log.h"
bool crossing() {
  return log_param("crossing", 0) == 0;
}
#endif
