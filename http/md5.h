// MD5 message digest (RFC 1321), fed in pieces of any length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

inline constexpr std::size_t MD5_DIGEST_SIZE = 16;
inline constexpr std::size_t MD5_HEX_SIZE = 33;  // 32 hex digits and a terminator

struct Md5Context {
  std::uint32_t state[4];
  std::uint32_t bit_count[2];  // message length in bits, low word first
  std::uint8_t block[64];
};

void md5_init(Md5Context& context);
void md5_update(Md5Context& context, const void* data, std::size_t length);
// Writes the digest, then wipes the context.
void md5_final(Md5Context& context, std::uint8_t digest[MD5_DIGEST_SIZE]);
// Lowercase, high nibble first, terminated.
void md5_hex(const std::uint8_t digest[MD5_DIGEST_SIZE], char out[MD5_HEX_SIZE]);

}  // namespace qor
