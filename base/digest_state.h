// The HTTP Digest state of a run: plain data. The web client (http/digest.h) parses challenges into it
// and builds Authorization lines from it; the password dialog writes the credentials.
#pragma once

#include <cstdint>
#include <mutex>

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

// The one piece of state that the requests of a run share. Its lock is held only for the short steps
// that read or advance the state (building an Authorization line, taking a challenge, storing the
// credentials), never while a request connects, sends or receives.
struct SharedDigest {
  std::mutex mutex;
  DigestState state{};
};

}  // namespace qor
