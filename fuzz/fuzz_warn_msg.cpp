// The warning-message reader: the input is a warning-message file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = input_file({reinterpret_cast<const char*>(data), size});
  ConfigFile any;
  char* text = any.ReadWarnMsg(path);
  if (text == nullptr) abort();  // the file is there and readable
  // Every backslash-n was replaced, and the text never grows by more than
  // "<BR>" in place of each two bytes.
  if (strstr(text, "\\n") != nullptr || strlen(text) > 2 * size) abort();
  delete[] text;
  return 0;
}
