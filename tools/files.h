// Reading the files the tool is given, and why one cannot be read; where
// a path leads.
#pragma once

#include <string>

// Why the gate's reading of a policy file (read_policy_text) would find no
// text through the file's fault: it cannot be opened, it is a directory or,
// with trusted_only, the gate does not use it ("is writable by others: not
// used"); empty otherwise. Opened as the gate opens it: a FIFO never blocks.
std::string policy_unread(const std::string& path, bool trusted_only);
// unreadable: why the file at path cannot be read at all ("is a directory",
// "cannot be opened: ..."); empty when it can. read_file: the same, reading
// the whole file into text in the same pass (a read error leaves what was
// read).
std::string read_file(const std::string& path, std::string* text);
inline std::string unreadable(const std::string& path) {
  return read_file(path, nullptr);
}

// Whether there is a file or directory at path (links followed).
bool exists(const std::string& path);
// The directory that holds path ("/" for a name right under the root).
std::string parent_of(const std::string& path);
