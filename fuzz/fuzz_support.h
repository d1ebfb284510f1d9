// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Writes the bytes to this process's scratch file (replacing what it held)
// and returns the file's path.
const char* input_file(std::string_view bytes);

// The input as text, cut at its first parts - 1 NUL bytes; the last part
// keeps the rest, NUL bytes included. Fewer parts when there are fewer NULs.
std::vector<std::string_view> split_input(const uint8_t* data, size_t size, size_t parts);

// Moves the process into a mount namespace of its own with an empty tmpfs on
// /var holding /var/varn/log, so that the gate's log writes land there and
// never in the host's log. Aborts when that cannot be done.
void keep_log_private();
// Empties the private log; every input starts with none.
void reset_private_log();

// role_transfer.cpp: what the next role lookups receive, as the transfer
// would deliver it: the body in pieces of `piece` bytes (0: in one piece).
void set_role_reply(std::string_view body, size_t piece);
