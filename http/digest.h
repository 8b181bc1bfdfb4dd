// HTTP Digest authentication (MD5) for the device's web server.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

struct DigestState {
  std::uint32_t nonce_count;  // requests sent with credentials under the current nonce
  char previous_nonce[128];
  char nonce[128];
  char cnonce[128];
  char username[128];
  char password[128];  // credentials are sent only while this is not empty
  char realm[128];
  char qop[16];
  char algorithm[16];
  char uri[128];
  char opaque[128];
};

extern DigestState digest_state;

void clear_digest_state();

}  // namespace qor
