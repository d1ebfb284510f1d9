// The reply side of the account role lookup: collecting the body that the
// transfer delivers piece by piece, and turning it into group_role. Kept apart
// from the transfer itself (role_lookup.cpp) so that the reply handling can be
// exercised without a network.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json_document.h"
#include "log.h"
#include "policy.h"
#include "role_lookup.h"

// Appends one piece of the reply body. The block always holds the whole body
// so far and a NUL behind it. When it cannot grow, it is kept but holds the
// empty text, and the 0 returned makes libcurl abort the transfer.
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data) {
  size_t n = 0;
  const size_t old = data->size;
  char* block = nullptr;
  if (!__builtin_mul_overflow(size, nmemb, &n) && n < SIZE_MAX - old) {
    block = static_cast<char*>(realloc(data->body, old + n + 1));
  }
  if (block == nullptr) {
    if (data->body != nullptr) data->body[0] = '\0';
    data->size = 0;
    fputs("Failed to allocate memory.\n", stderr);
    return 0;
  }
  data->body = block;
  if (n > 0) memcpy(block + old, piece, n);
  data->size = old + n;
  block[data->size] = '\0';
  return n;
}

// Logs the body (with tracing on) and parses it, up to its first NUL byte.
// Only a reply that parses as a whole replaces group_role: a cut connection
// or a broken answer leaves it as it was (null in a run's first lookup), and
// never keeps a part of itself there.
void take_role_reply(const char* body) {
  log_text(body, 0);
  std::string messages;
  if (!parse_document(body, group_role, true, &messages, nullptr)) {
    fputs("Failed to parse", stdout);
    fputs(messages.c_str(), stdout);
  }
}
