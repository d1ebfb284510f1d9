#include "text.h"

#include <cstring>

// Text that came from outside the gate, made safe to put on one log line: the
// first kLoggedTextMax bytes, with every control byte but TAB written as
// "\xHH", so that it can neither end the line (and forge the next one) nor
// drive the reader's terminal; so are both bytes of a C1 control in UTF-8
// (C2 80 to C2 9F: U+009B, for one, starts a terminal's control sequence as
// ESC [ does). A longer text ends in "...[N bytes]", N being its whole
// length. quoted also writes '"' and '\' so, for a value between double
// quotes: it then holds no quote to end the value early, and every backslash
// in it starts an escape. Written into the caller's buffer, without
// allocating.
size_t loggable(const char* text, char (&out)[kLoggableSize], bool quoted) {
  static const char kHex[] = "0123456789abcdef";
  const size_t length = strlen(text);
  const size_t kept = length < kLoggedTextMax ? length : kLoggedTextMax;
  size_t n = 0;
  bool c1_second = false;  // text[i] is the second byte of a C1 control
  for (size_t i = 0; i < kept; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // The byte after C2 is looked at even where the cut falls between the
    // two (the text is terminated there): the first half is then escaped alone.
    const auto after = static_cast<unsigned char>(text[i + 1]);
    const bool c1_first = c == 0xc2 && after >= 0x80 && after <= 0x9f;
    const bool escape =
        c1_first || c1_second || control_byte(c) || (quoted && (c == '"' || c == '\\'));
    c1_second = c1_first;
    if (escape) {
      out[n++] = '\\';
      out[n++] = 'x';
      out[n++] = kHex[c >> 4];
      out[n++] = kHex[c & 15];
    } else {
      out[n++] = static_cast<char>(c);
    }
  }
  out[n] = '\0';
  if (kept < length) {
    char mark[kLengthMarkSize];
    const size_t m = length_mark(length, mark);
    memcpy(out + n, mark, m + 1);
    n += m;
  }
  return n;
}

size_t decimal(unsigned long long value, char (&out)[kDecimalSize]) {
  char digits[kDecimalSize];
  size_t start = sizeof digits;
  do digits[--start] = static_cast<char>('0' + value % 10);
  while ((value /= 10) != 0);
  const size_t n = sizeof digits - start;
  memcpy(out, digits + start, n);
  out[n] = '\0';
  return n;
}

size_t length_mark(size_t length, char (&out)[kLengthMarkSize]) {
  char digits[kDecimalSize];
  const size_t n = decimal(length, digits);
  memcpy(out, "...[", 4);
  memcpy(out + 4, digits, n);
  memcpy(out + 4 + n, " bytes]", 8);
  return n + 11;
}
