// The role lookup of the fuzz targets: instead of a request to the web
// service, every lookup receives the reply that the fuzz input carries,
// delivered through the gate's own write_data in pieces as a transfer would.
// It stands in for the lookup's transfer, so the decision rules take the
// reply into group_role with their own reply handling.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "role_lookup.h"
#include "role_rights.h"

namespace {

std::string_view reply;
size_t reply_piece = 0;

RoleReply deliver_reply(const char*, const char*, const Json::Value*) {
  url_data data{0, static_cast<char*>(malloc(4096))};
  if (data.body == nullptr) abort();
  data.body[0] = '\0';
  const size_t piece = reply_piece == 0 ? reply.size() : reply_piece;
  for (size_t at = 0; at < reply.size(); at += piece) {
    const size_t n = std::min(piece, reply.size() - at);
    std::string copy(reply.substr(at, n));  // a piece of its own, as libcurl hands it over
    if (write_data(copy.data(), 1, n, &data) != n) break;
  }
  RoleReply out;
  out.body.assign(data.body, data.size);
  free(data.body);
  return out;
}

}  // namespace

void set_role_reply(std::string_view body, size_t piece) {
  reply = body;
  reply_piece = piece;
  set_role_transfer(deliver_reply);
}
