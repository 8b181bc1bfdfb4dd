// The device's Digest challenge, and the Authorization line built from what it left in the state.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/digest.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

template <std::size_t N>
void check_terminated(const char (&field)[N]) {
  check(strnlen(field, N) < N);
}

// A state as it stands after an earlier challenge and a password prompt, the credentials as long as
// the dialog allows.
qor::DigestState earlier_state() {
  qor::DigestState s{};
  s.nonce_count = 3;
  std::strcpy(s.previous_nonce, "n0");
  std::strcpy(s.nonce, "n0");
  std::strcpy(s.cnonce, "1f");
  std::memset(s.username, 'u', 126);
  std::memset(s.password, 'p', 126);
  std::strcpy(s.realm, "QOR");
  std::strcpy(s.qop, "auth");
  std::memset(s.uri, '/', 127);
  return s;
}

void check_state(const qor::DigestState& before, const qor::DigestState& s, int result) {
  check(result == 0 || result == 1);
  check_terminated(s.previous_nonce);
  check_terminated(s.nonce);
  check_terminated(s.cnonce);
  check_terminated(s.realm);
  check_terminated(s.qop);
  check_terminated(s.algorithm);
  check_terminated(s.opaque);
  if (result != 0) {
    // Only the realm may have been taken from an unusable challenge.
    check(std::strcmp(s.nonce, before.nonce) == 0 && s.nonce_count == before.nonce_count);
    check(std::strcmp(s.cnonce, before.cnonce) == 0 && std::strcmp(s.qop, before.qop) == 0);
    return;
  }
  check(std::strcmp(s.previous_nonce, s.nonce) == 0);
  check(s.nonce_count == (std::strcmp(s.nonce, before.nonce) == 0 ? before.nonce_count : 0u));
  std::size_t cnonce_length = std::strlen(s.cnonce);
  check(cnonce_length >= 1 && cnonce_length <= 4);
}

// The line into the buffer the request uses, and into a small one that must cut it cleanly.
void check_line(const qor::DigestState& s, std::size_t small_size) {
  std::vector<char> line(qor::AUTHORIZATION_LINE_SIZE);
  int n = qor::build_digest_authorization(s, line.data(), line.size());
  check(n > 2 && static_cast<std::size_t>(n) < line.size() && std::strlen(line.data()) == std::size_t(n));
  check(line[n - 2] == '\r' && line[n - 1] == '\n');
  std::vector<char> small(small_size);
  int m = qor::build_digest_authorization(s, small.data(), small.size());
  check(m >= 0 && static_cast<std::size_t>(m) < small.size() && std::strlen(small.data()) == std::size_t(m));
  check(std::memcmp(small.data(), line.data(), static_cast<std::size_t>(m)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::srand(1);
  std::vector<char> challenge(size + 1);
  if (size) std::memcpy(challenge.data(), data, size);
  challenge[size] = '\0';
  const qor::DigestState before = earlier_state();
  qor::DigestState s = before;
  int result = qor::parse_digest_challenge(challenge.data(), s);
  check_state(before, s, result);
  check_line(s, size % 97 + 1);
  return 0;
}
