#include "config_file_impl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "atomic_file.h"

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Blanks are spaces and horizontal tabs, nothing else.
const char* skip_space(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Section names and keys are made of letters, digits, '-', '.' and '_'.
bool is_valid_letter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// End of the longest run of name characters that starts at p.
const char* skip_name(const char* p) {
  while (is_valid_letter(*p)) ++p;
  return p;
}

// The entry for name, created empty when it is missing. One search either way.
template <class Map>
typename Map::mapped_type& entry(Map& map, std::string_view name) {
  auto it = map.lower_bound(name);
  if (it == map.end() || it->first != name) {
    it = map.emplace_hint(it, std::string(name), typename Map::mapped_type());
  }
  return it->second;
}

// True when the INI form of the store reads back as the store itself: the
// reader takes as a section name only a non-empty run of name characters
// right after the '[', as a key only the run of name characters that starts
// a line (it may be empty), and ends every line at a line feed after taking
// off one carriage return. So every section name is such a run, every key
// is a run of name characters, possibly empty, and no value holds a line feed
// or a carriage return. Blanks around a value need no care: the reader loses
// the leading ones only.
bool reads_back(const ConfigFileImpl::Sections& sections) {
  const auto is_name = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), is_valid_letter);
  };
  for (const auto& [name, keys] : sections) {
    if (name.empty() || !is_name(name)) return false;
    for (const auto& [key, value] : keys) {
      if (!is_name(key) || value.find_first_of("\r\n") != std::string::npos) return false;
    }
  }
  return true;
}

void append_flat(const ConfigFileImpl::Section& section, std::string& out) {
  for (const auto& [key, value] : section) {
    out += key;
    out += '=';
    out += value;
    out += '\n';
  }
}

// The whole file, read with one read() of the size that fstat() gives. False
// when it cannot be opened or sized, or the read yields anything else.
bool read_whole_file(const char* path, std::string& text) {
  const corvexin_config::Descriptor file{::open(path, O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return false;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || st.st_size < 0 ||
      static_cast<uintmax_t>(st.st_size) >= static_cast<uintmax_t>(SSIZE_MAX)) {
    return false;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  text.resize(size);
  return ::read(file.fd, text.data(), size) == static_cast<ssize_t>(size);
}

}  // namespace

int ConfigFileImpl::read_config(const char* path) {
  FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (file == nullptr) {
    loaded = false;
    return -1;
  }
  // fgets reads into the buffer from the fill offset. A line that does not
  // fit doubles the buffer and the next fgets goes on behind what is there,
  // so lines have no length limit. The last byte is set non-zero before each
  // read: fgets writes its terminating 0 there only when it filled the
  // buffer, which tells a full buffer apart from a NUL byte in the file.
  std::vector<char> buffer(1024);
  size_t fill = 0;
  bool first_line = true;
  std::string current;         // section of the last accepted header; none yet
  Section* section = nullptr;  // its entry in the store, once it exists
  for (;;) {
    buffer.back() = 1;
    const size_t room = std::min<size_t>(buffer.size() - fill, INT_MAX);
    if (std::fgets(buffer.data() + fill, static_cast<int>(room), file) == nullptr) break;
    if (buffer.back() == '\0' && buffer[buffer.size() - 2] != '\n') {
      fill = buffer.size() - 1;
      buffer.resize(buffer.size() * 2);
      continue;
    }
    fill = 0;
    parse_line(buffer.data(), first_line, current, section);
    first_line = false;
  }
  const bool failed = std::ferror(file) != 0;
  (void)std::fclose(file);
  if (failed) {
    // Settings read before the error stay, but the read does not count.
    loaded = false;
    return -1;
  }
  // A last line without a line feed that exactly filled the buffer.
  if (fill > 0) parse_line(buffer.data(), first_line, current, section);
  filename = path;
  loaded = true;
  return 0;
}

// One line from the reader, NUL-terminated, line feed still on it. current
// and section carry the current section from line to line.
void ConfigFileImpl::parse_line(char* line, bool first_line, std::string& current,
                                Section*& section) {
  size_t length = std::strlen(line);
  if (first_line && length >= 3 && std::memcmp(line, kByteOrderMark, 3) == 0) {
    line += 3;
    length -= 3;
  }
  if (length > 0 && line[length - 1] == '\n') --length;
  if (length > 0 && line[length - 1] == '\r') --length;
  line[length] = '\0';

  const char* p = skip_space(line);
  if (*p == '\0' || *p == '#' || *p == ';') return;
  if (*p == '[') {
    // "[name" then a ']' somewhere after it; anything else around is ignored.
    const char* name = p + 1;
    const char* name_end = skip_name(name);
    if (name_end != name && std::strchr(name_end, ']') != nullptr) {
      current.assign(name, name_end);
      const auto it = sections.find(std::string_view(current));
      section = it != sections.end() ? &it->second : nullptr;
    }
    return;
  }
  const char* key_end = skip_name(p);
  const char* equals = skip_space(key_end);
  if (*equals != '=' || current.empty()) return;
  const char* value = skip_space(equals + 1);
  if (section == nullptr) section = &entry(sections, current);
  entry(*section, std::string_view(p, static_cast<size_t>(key_end - p)))
      .assign(value, static_cast<size_t>(line + length - value));
}

int ConfigFileImpl::refresh() {
  sections.clear();
  loaded = false;
  const std::string path = filename;  // read_config replaces filename
  return read_config(path.c_str());
}

const char* ConfigFileImpl::getparam(const char* section, const char* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  const auto s = sections.find(std::string_view(section));
  if (s == sections.end()) return nullptr;
  const auto k = s->second.find(std::string_view(key));
  return k != s->second.end() ? k->second.c_str() : nullptr;
}

int ConfigFileImpl::getdigitparam(const char* section, const char* key) const {
  const char* value = getparam(section, key);
  if (value == nullptr) return 0;
  // As atoi, but out-of-range numbers stop at the ends of int's range.
  const long number = std::strtol(value, nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

void ConfigFileImpl::setparam(const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return;
  entry(entry(sections, section), key) = value;
}

void ConfigFileImpl::unsetparam(const char* section, const char* key) {
  if (section == nullptr || key == nullptr) return;
  Section& keys = entry(sections, section);
  const auto it = keys.find(std::string_view(key));
  if (it != keys.end()) keys.erase(it);
}

std::string& ConfigFileImpl::SerializeSection(const char* section, std::string& out) const {
  if (section == nullptr) return out;
  const auto it = sections.find(std::string_view(section));
  if (it != sections.end()) append_flat(it->second, out);
  return out;
}

std::string& ConfigFileImpl::Serialize(std::string& out) const {
  for (const auto& named : sections) append_flat(named.second, out);
  return out;
}

std::string* ConfigFileImpl::SerializeSection(const char* section) const {
  auto* out = new std::string;
  SerializeSection(section, *out);
  return out;
}

std::string* ConfigFileImpl::Serialize() const {
  auto* out = new std::string;
  Serialize(*out);
  return out;
}

int ConfigFileImpl::dump_to_FILE(FILE* file) const {
  if (file == nullptr) return -1;
  if (!reads_back(sections)) {
    errno = EINVAL;
    return -1;
  }
  bool failed = false;
  for (const auto& [name, keys] : sections) {
    failed |= std::fprintf(file, "[%s]\n", name.c_str()) < 0;
    for (const auto& [key, value] : keys) {
      failed |= std::fprintf(file, "%s = %s\n", key.c_str(), value.c_str()) < 0;
    }
  }
  // The stream stays the caller's and stays open; flushing it makes a full
  // disk or an I/O error show up here rather than go unnoticed.
  failed |= std::fflush(file) != 0;
  return failed ? -1 : 0;
}

int ConfigFileImpl::dump(const char* path) const {
  // Checked before the file is touched: a refused store leaves it as it was.
  if (!reads_back(sections)) {
    errno = EINVAL;
    return -1;
  }
  return corvexin_config::replace_file(path, [this](FILE* file) { return dump_to_FILE(file); });
}

char* ConfigFileImpl::ReadWarnMsg(const char* path) const {
  std::string text;
  if (path == nullptr || !read_whole_file(path, text)) return nullptr;
  if (text.size() >= 3 && text.compare(0, 3, kByteOrderMark) == 0) text.erase(0, 3);
  text.resize(std::strlen(text.c_str()));  // the text ends at its first NUL byte

  std::string result;
  result.reserve(text.size());
  size_t from = 0;
  for (size_t at; (at = text.find("\\n", from)) != std::string::npos; from = at + 2) {
    result.append(text, from, at - from);
    result += "<BR>";
  }
  result.append(text, from, std::string::npos);

  char* out = new char[result.size() + 1];
  std::memcpy(out, result.c_str(), result.size() + 1);
  return out;
}
