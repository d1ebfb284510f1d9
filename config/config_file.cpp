// ConfigFile forwards every call to its ConfigFileImpl.
#include "config_file.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "config_file_impl.h"

namespace {

// A new[] copy of text with a NUL byte after it; the caller delete[]s it.
char* copyNew(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

ConfigFile::ConfigFile() : impl(new ConfigFileImpl) {}
ConfigFile::ConfigFile(const char* path) : impl(new ConfigFileImpl(path)) {}
ConfigFile::~ConfigFile() {
  delete impl;
}

bool ConfigFile::ok() {
  return impl->ok();
}
int ConfigFile::read_config(const char* path) {
  return impl->read_config(path);
}
int ConfigFile::refresh() {
  return impl->refresh();
}
const char* ConfigFile::GetFilename() {
  return impl->GetFilename();
}

const char* ConfigFile::getparam(const char* section, const char* key) {
  return impl->getparam(section, key);
}

int ConfigFile::getdigitparam(const char* section, const char* key) {
  return impl->getdigitparam(section, key);
}

int ConfigFile::strcmpnull(const char* a, const char* b) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr || b == nullptr) return 1;
  return strcasecmp(a, b);
}

void ConfigFile::setparam(const char* section, const char* key, const char* value) {
  impl->setparam(section, key, value);
}

void ConfigFile::unsetparam(const char* section, const char* key) {
  impl->unsetparam(section, key);
}

char* ConfigFile::SerializeSection(const char* section) {
  std::string text;
  return copyNew(impl->SerializeSection(section, text));
}

char* ConfigFile::Serialize() {
  std::string text;
  return copyNew(impl->Serialize(text));
}

int ConfigFile::dump(const char* path) {
  return impl->dump(path);
}
int ConfigFile::dump() {
  return impl->dump();
}
int ConfigFile::dump_to_FILE(FILE* file) {
  return impl->dump_to_FILE(file);
}
char* ConfigFile::ReadWarnMsg(const char* path) {
  return impl->ReadWarnMsg(path);
}
