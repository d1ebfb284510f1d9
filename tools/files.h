// Reading the files the tool is given, and why one cannot be read; where
// a path leads.
#pragma once

#include <cstdio>
#include <string>

// Why the gate's reading of a policy file (read_policy_text) would find no
// text through the file's fault: it cannot be opened, it is a directory or,
// with trusted_only, the gate does not use it ("is writable by others: not
// used"); empty otherwise. Opened as the gate opens it: a FIFO never blocks.
std::string policy_unread(const std::string& path, bool trusted_only);
// Why a file was not read whole: the errno of the failure (0 when there was
// none), and whether it came in opening the file or in reading it.
struct ReadFailure {
  int error = 0;
  bool in_opening = false;
  // "cannot be opened: ..." or "cannot be read: ...", empty when read whole.
  std::string message() const;
};
// Reads the file at path, or the open stream, to its end into text (a read
// error leaves what was read); without text the file is only opened.
ReadFailure read_whole(const std::string& path, std::string* text);
ReadFailure read_whole(FILE* stream, std::string* text);
// Why the file at path cannot be read at all ("is a directory", "cannot be
// opened: ..."); empty when it can. Reads it whole into text as read_whole.
std::string read_file(const std::string& path, std::string* text);

// Whether there is a file or directory at path (links followed).
bool exists(const std::string& path);
// The directory that holds path ("/" for a name right under the root).
std::string parent_of(const std::string& path);
