#include "http/digest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace qor {

namespace {

bool equals_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? char(*a - 'A' + 'a') : *a;
    char y = *b >= 'A' && *b <= 'Z' ? char(*b - 'A' + 'a') : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// Where the quoted value of `name` (given with its '="') begins, and how long it is; null when the text
// has no such parameter. The value runs to the next double quote or the end of the text.
const char* find_quoted(const char* text, const char* name, std::size_t& length) {
  const char* at = std::strstr(text, name);
  if (!at) return nullptr;
  at += std::strlen(name);
  const char* end = std::strchr(at, '"');
  length = end ? std::size_t(end - at) : std::strlen(at);
  return at;
}

// Where the unquoted value of `name` (given with its '=') begins, and how long it is: a token, as the
// RFCs write algorithm=MD5. It runs to the next comma, blank or line end.
const char* find_token(const char* text, const char* name, std::size_t& length) {
  const char* at = std::strstr(text, name);
  if (!at) return nullptr;
  at += std::strlen(name);
  length = std::strcspn(at, ", \t\r\n");
  return at;
}

void copy_cut(char* field, std::size_t size, const char* value, std::size_t length) {
  if (length >= size) length = size - 1;
  std::memcpy(field, value, length);
  field[length] = '\0';
}

// A realm or nonce that does not fit is refused rather than cut: a cut one can only earn a refusal.
bool copy_whole(char* field, std::size_t size, const char* value, std::size_t length) {
  if (length >= size) return false;
  copy_cut(field, size, value, length);
  return true;
}

// The quoted value of `name`, cut to the field; when there is none and `token_name` is given, its
// unquoted value instead. Empty when neither is there.
void copy_optional(const char* text, const char* name, char* field, std::size_t size,
                   const char* token_name = nullptr) {
  std::size_t length = 0;
  const char* value = find_quoted(text, name, length);
  if (!value && token_name) value = find_token(text, token_name, length);
  copy_cut(field, size, value ? value : "", value ? length : 0);
}

void md5_hex_of(std::initializer_list<const char*> parts, char out[MD5_HEX_SIZE]) {
  Md5Context context;
  md5_init(context);
  for (const char* part : parts)
    md5_update(context, part, std::strlen(part));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_final(context, digest);
  md5_hex(digest, out);
}

}  // namespace

int parse_digest_challenge(const char* challenge, DigestState& state) {
  std::size_t length = 0;
  const char* realm = find_quoted(challenge, "realm=\"", length);
  if (!realm || !copy_whole(state.realm, sizeof state.realm, realm, length)) return 1;
  const char* nonce = find_quoted(challenge, "nonce=\"", length);
  if (!nonce || !copy_whole(state.nonce, sizeof state.nonce, nonce, length)) return 1;
  if (std::strcmp(state.nonce, state.previous_nonce) != 0) {
    copy_cut(state.previous_nonce, sizeof state.previous_nonce, state.nonce, std::strlen(state.nonce));
    state.nonce_count = 0;
  }
  std::snprintf(state.cnonce, sizeof state.cnonce, "%x", static_cast<unsigned>(std::rand() & 0x7FFF));
  // Standard servers send the algorithm as a bare token; the device quotes it.
  copy_optional(challenge, "algorithm=\"", state.algorithm, sizeof state.algorithm, "algorithm=");
  copy_optional(challenge, "qop=\"", state.qop, sizeof state.qop);
  copy_optional(challenge, "opaque=\"", state.opaque, sizeof state.opaque);
  return 0;
}

int build_digest_authorization(const DigestState& state, char* out, std::size_t size) {
  if (size == 0) return 0;
  char nc[16] = "";
  if (state.qop[0]) std::snprintf(nc, sizeof nc, "%09x", state.nonce_count);
  char response[MD5_HEX_SIZE];
  compute_digest_response(state.nonce, state.cnonce, state.username, state.realm, state.password,
                          state.algorithm, nc, "GET", state.qop, state.uri, "", response);
  int n = std::snprintf(out, size,
                        "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\","
                        "algorithm=\"%s\",response=\"%s\"%s%s%s",
                        state.username, state.realm, state.nonce, state.uri, state.algorithm, response,
                        state.opaque[0] ? ",opaque=\"" : "", state.opaque, state.opaque[0] ? "\"" : "");
  if (n >= 0 && std::size_t(n) < size && state.qop[0])
    n += std::snprintf(out + n, size - n, ",qop=%s,nc=%s,cnonce=\"%s\"", state.qop, nc, state.cnonce);
  if (n >= 0 && std::size_t(n) < size) n += std::snprintf(out + n, size - n, "\r\n");
  return static_cast<int>(std::strlen(out));
}

void compute_digest_response(const char* nonce, const char* cnonce, const char* username, const char* realm,
                             const char* password, const char* algorithm, const char* nonce_count_text,
                             const char* method, const char* qop, const char* digest_uri,
                             const char* entity_body, char response[MD5_HEX_SIZE]) {
  char ha1[MD5_HEX_SIZE];
  digest_ha1(algorithm, username, realm, password, nonce, cnonce, ha1);
  digest_response(ha1, nonce, nonce_count_text, cnonce, qop, method, digest_uri, entity_body, response);
}

void digest_ha1(const char* algorithm, const char* username, const char* realm, const char* password,
                const char* nonce, const char* cnonce, char ha1[MD5_HEX_SIZE]) {
  Md5Context context;
  md5_init(context);
  for (const char* part : {username, ":", realm, ":", password})
    md5_update(context, part, std::strlen(part));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_final(context, digest);
  if (equals_ignoring_case(algorithm, "md5-sess")) {
    // The session key hashes the raw digest, not its hex text.
    md5_init(context);
    md5_update(context, digest, sizeof digest);
    for (const char* part : {":", nonce, ":", cnonce})
      md5_update(context, part, std::strlen(part));
    md5_final(context, digest);
  }
  md5_hex(digest, ha1);
}

void digest_response(const char* ha1, const char* nonce, const char* nonce_count_text, const char* cnonce,
                     const char* qop, const char* method, const char* digest_uri, const char* entity_body,
                     char response[MD5_HEX_SIZE]) {
  char ha2[MD5_HEX_SIZE];
  if (equals_ignoring_case(qop, "auth-int")) {
    char body_hash[MD5_HEX_SIZE];
    md5_hex_of({entity_body}, body_hash);
    md5_hex_of({method, ":", digest_uri, ":", body_hash}, ha2);
  } else {
    md5_hex_of({method, ":", digest_uri}, ha2);
  }
  if (qop[0])
    md5_hex_of({ha1, ":", nonce, ":", nonce_count_text, ":", cnonce, ":", qop, ":", ha2}, response);
  else
    md5_hex_of({ha1, ":", nonce, ":", ha2}, response);
}

}  // namespace qor
