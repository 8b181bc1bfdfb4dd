// HTTP Digest authentication (MD5) for the device's web server.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/digest_state.h"
#include "http/md5.h"

namespace qor {

// Room for the longest line build_digest_authorization can make from a full DigestState.
inline constexpr std::size_t AUTHORIZATION_LINE_SIZE = 1024;

// Stores a challenge (the text from "WWW-Authenticate:" on) in `state`. Returns 0 when it was usable:
// it held a quoted realm and nonce, each short enough for its field; 1 otherwise. A realm found before
// a missing or unusable nonce has already been stored.
int parse_digest_challenge(const char* challenge, DigestState& state);

// Writes the Authorization line, "\r\n" included, and a terminator into `out`; returns the length of
// the line. Does not change the state.
int build_digest_authorization(const DigestState& state, char* out, std::size_t size);

void compute_digest_response(const char* nonce, const char* cnonce, const char* username, const char* realm,
                             const char* password, const char* algorithm, const char* nonce_count_text,
                             const char* method, const char* qop, const char* digest_uri,
                             const char* entity_body, char response[MD5_HEX_SIZE]);
void digest_ha1(const char* algorithm, const char* username, const char* realm, const char* password,
                const char* nonce, const char* cnonce, char ha1[MD5_HEX_SIZE]);
void digest_response(const char* ha1, const char* nonce, const char* nonce_count_text, const char* cnonce,
                     const char* qop, const char* method, const char* digest_uri, const char* entity_body,
                     char response[MD5_HEX_SIZE]);

}  // namespace qor
