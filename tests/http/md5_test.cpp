#include "http/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qor {
namespace {

std::string hex_of(const std::string& message, std::size_t piece = 0) {
  Md5Context context;
  md5_init(context);
  if (piece == 0) piece = message.size() ? message.size() : 1;
  for (std::size_t at = 0; at < message.size(); at += piece)
    md5_update(context, message.data() + at, std::min(piece, message.size() - at));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_final(context, digest);
  char hex[MD5_HEX_SIZE];
  md5_hex(digest, hex);
  return hex;
}

struct Vector {
  std::string message;
  const char* digest;
};

class Md5Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(Md5Vectors, WholeAndInPieces) {
  const Vector& v = GetParam();
  EXPECT_EQ(hex_of(v.message), v.digest);
  for (std::size_t piece : {1, 7, 63, 64, 65})
    EXPECT_EQ(hex_of(v.message, piece), v.digest) << "piece " << piece;
}

// RFC 1321's suite, then the lengths at which the padding spills into a second block.
INSTANTIATE_TEST_SUITE_P(
    Rfc1321AndBlockEdges, Md5Vectors,
    ::testing::Values(Vector{"", "d41d8cd98f00b204e9800998ecf8427e"},
                      Vector{"a", "0cc175b9c0f1b6a831c399e269772661"},
                      Vector{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                      Vector{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
                      Vector{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
                      Vector{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                             "d174ab98d277d9f5a5611c2c9f419d9f"},
                      Vector{
                          "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                          "57edf4a22be3c955ac49da2e2107b67a"},
                      Vector{std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
                      Vector{std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
                      Vector{std::string(64, 'a'), "014842d480b571495a4a0363793f7367"}));

TEST(Md5, LongMessageFedInUnevenPieces) {
  std::string message;
  for (int i = 0; i < 100000; ++i)
    message += static_cast<char>('a' + i % 26);
  std::string whole = hex_of(message);
  EXPECT_EQ(hex_of(message, 1000), whole);
  EXPECT_EQ(hex_of(message, 33), whole);
  EXPECT_EQ(whole, "eeb430124056cecabbfbc7e88a1a8b46");
}

TEST(Md5, FinalWipesTheContext) {
  Md5Context context;
  md5_init(context);
  md5_update(context, "secret", 6);
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_final(context, digest);
  Md5Context zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof zero), 0);
}

}  // namespace
}  // namespace qor
