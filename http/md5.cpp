#include "http/md5.h"

#include <cstring>

namespace qor {

namespace {

constexpr std::uint32_t SINES[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

std::uint32_t rotate_left(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

std::uint32_t load_le(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void store_le(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The round function of step i and the message word it takes.
std::uint32_t mix(int i, std::uint32_t b, std::uint32_t c, std::uint32_t d, int& word) {
  switch (i / 16) {
    case 0:
      word = i;
      return (b & c) | (~b & d);
    case 1:
      word = (5 * i + 1) % 16;
      return (b & d) | (c & ~d);
    case 2:
      word = (3 * i + 5) % 16;
      return b ^ c ^ d;
    default:
      word = (7 * i) % 16;
      return c ^ (b | ~d);
  }
}

void compress(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = load_le(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    int word = 0;
    std::uint32_t f = mix(i, b, c, d, word);
    std::uint32_t next = b + rotate_left(a + f + x[word] + SINES[i], SHIFTS[i / 16][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void md5_init(Md5Context& context) {
  std::memset(&context, 0, sizeof context);
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
}

void md5_update(Md5Context& context, const void* data, std::size_t length) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t used = (context.bit_count[0] >> 3) & 63;
  std::uint64_t bits =
      (std::uint64_t(context.bit_count[1]) << 32 | context.bit_count[0]) + std::uint64_t(length) * 8;
  context.bit_count[0] = static_cast<std::uint32_t>(bits);
  context.bit_count[1] = static_cast<std::uint32_t>(bits >> 32);
  while (length > 0) {
    std::size_t take = 64 - used < length ? 64 - used : length;
    std::memcpy(context.block + used, in, take);
    used += take;
    in += take;
    length -= take;
    if (used == 64) {
      compress(context.state, context.block);
      used = 0;
    }
  }
}

void md5_final(Md5Context& context, std::uint8_t digest[MD5_DIGEST_SIZE]) {
  std::uint8_t length_bytes[8];
  store_le(length_bytes, context.bit_count[0]);
  store_le(length_bytes + 4, context.bit_count[1]);
  std::size_t used = (context.bit_count[0] >> 3) & 63;
  static constexpr std::uint8_t PADDING[64] = {0x80};
  md5_update(context, PADDING, used < 56 ? 56 - used : 120 - used);
  md5_update(context, length_bytes, sizeof length_bytes);
  for (int i = 0; i < 4; ++i)
    store_le(digest + 4 * i, context.state[i]);
  // The context held key material (the password's hash); leave nothing of it behind.
  volatile std::uint8_t* wipe = reinterpret_cast<volatile std::uint8_t*>(&context);
  for (std::size_t i = 0; i < sizeof context; ++i)
    wipe[i] = 0;
}

void md5_hex(const std::uint8_t digest[MD5_DIGEST_SIZE], char out[MD5_HEX_SIZE]) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  for (std::size_t i = 0; i < MD5_DIGEST_SIZE; ++i) {
    out[2 * i] = DIGITS[digest[i] >> 4];
    out[2 * i + 1] = DIGITS[digest[i] & 15];
  }
  out[2 * MD5_DIGEST_SIZE] = '\0';
}

}  // namespace qor
