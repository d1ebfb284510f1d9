// Small text pieces for the log, the system-log record and request headers,
// written without allocating and without snprintf (whose machinery costs a
// run more than what it writes).
#pragma once

#include <cstddef>

// The bytes that outside text may not carry as they are, in the log, in the
// system-log record or in a request header: every control byte but TAB, and
// DEL.
inline bool control_byte(unsigned char c) {
  return (c < 0x20 && c != '\t') || c == 0x7f;
}

// A number's decimal digits, and the mark "...[N bytes]" that ends a text cut
// short, N its whole length. Each gives the bytes written to out, which it
// terminates.
constexpr size_t kDecimalSize = 21;
constexpr size_t kLengthMarkSize = kDecimalSize + 10;
size_t decimal(unsigned long long value, char (&out)[kDecimalSize]);
size_t length_mark(size_t length, char (&out)[kLengthMarkSize]);
// How the mark and the escape of a control byte begin.
constexpr const char kLengthMarkStart[] = "...[";
constexpr const char kLengthMarkEnd[] = " bytes]";
constexpr const char kEscapeStart[] = "\\x";

// Text that comes from outside the gate, made fit for one line: cut to
// kLoggedTextMax bytes and its control bytes escaped (into a buffer of
// kLoggableSize).
constexpr size_t kLoggedTextMax = 4096;
constexpr size_t kLoggableSize = kLoggedTextMax * 4 + 32;
size_t loggable(const char* text, char (&out)[kLoggableSize], bool quoted = false);
