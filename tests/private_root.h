// In-process tests call the gate's functions directly, and those use the real
// fixed paths ("/etc/kelvo/halvora.ini", "/var/varn/log/corvexin_check.log").
// enter_private_root() moves the whole test process, once, into a private
// mount namespace in which /etc and /var are overlays whose upper layers lie
// in a scratch directory: the same layout that the sandbox script gives the
// gate binary. The gate's own files of the host are hidden there, and what a
// test writes at the real paths lands in the scratch directory, which goes
// away at exit. Nothing reaches the host's /etc or /var: when /etc and /var
// cannot be shown to be the overlays, it throws and writes nothing.
//
// Each test program is a process of its own under ctest, so parallel tests
// never share these files; tests in one process reset them in their set-up.
#pragma once

#include <string>

// Needs root. Throws std::runtime_error when the namespace cannot be made.
void enter_private_root();

// Writes a whole file at a real path (inside the private root), creating its
// directories; removes a file or directory tree; creates directories.
void put_file(const std::string& path, const std::string& content);
void remove_path(const std::string& path);
void make_directories(const std::string& path);
