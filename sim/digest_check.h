// The device's side of HTTP Digest authentication: the challenge it sends and the check of the
// Authorization line that comes back. The hashing itself is the program's own (http/digest.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qor::sim {

struct DigestConfig {
  std::string user;
  std::string password;
  std::string realm;
  std::string qop;        // offered whole, as one quoted value; empty: no qop directive
  std::string algorithm;  // empty: no algorithm directive
  std::string opaque;     // empty: no opaque directive
};

enum AuthVerdict {
  AUTH_OK = 0,
  AUTH_MISSING,
  AUTH_MALFORMED,
  AUTH_WRONG_USER,
  AUTH_WRONG_REALM,
  AUTH_STALE_NONCE,
  AUTH_WRONG_URI,
  AUTH_WRONG_ALGORITHM,
  AUTH_WRONG_OPAQUE,
  AUTH_WRONG_QOP,
  AUTH_BAD_NC,
  AUTH_BAD_CNONCE,
  AUTH_WRONG_RESPONSE,
};

struct AuthCheck {
  AuthVerdict verdict = AUTH_MISSING;
  std::string detail;  // readable reason for the log
  std::string nonce;   // as the client sent them, for the log
  std::string nc;
};

const char* auth_verdict_name(AuthVerdict verdict);

// The whole header line, "\r\n" included. `stale` tells the client its nonce has expired.
std::string challenge_header(const DigestConfig& config, std::string_view nonce, bool stale);

// `value` is the header's value (what follows "Authorization:"), or empty when the request had none.
AuthCheck check_authorization(const DigestConfig& config, std::string_view value, std::string_view method,
                              std::string_view request_uri,
                              const std::function<bool(const std::string&)>& nonce_known);

}  // namespace qor::sim
