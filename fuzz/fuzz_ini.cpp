// The INI parser: the input is a settings file. It is read, looked up the way
// the role lookup does, walked whole by Serialize, and read again by refresh.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = input_file({reinterpret_cast<const char*>(data), size});
  ConfigFile settings(path);
  if (!settings.ok() || strcmp(settings.GetFilename(), path) != 0) abort();
  const char* protocol = settings.getparam("http", "kelvo_web_protocol");
  const char* port = settings.getparam("http", "kelvo_web_server");
  if (protocol != nullptr) (void)strlen(protocol);
  // The store reads numbers as atoi does, but clamps out-of-range ones to
  // int's ends (atoi's result is undefined there, so it is no oracle).
  if (port != nullptr) {
    const long long number = strtoll(port, nullptr, 10);
    const int expected = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : int(number);
    if (settings.getdigitparam("http", "kelvo_web_server") != expected) abort();
  }
  delete[] settings.Serialize();
  // Reading the same file again gives the same store.
  char* before = settings.Serialize();
  if (settings.refresh() != 0) abort();
  char* after = settings.Serialize();
  if (strcmp(before, after) != 0) abort();
  delete[] before;
  delete[] after;
  return 0;
}
