// Packet layouts, byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "tftp/tftp_packet.h"

namespace qor {
namespace {

TEST(TftpPacket, SixteenBitFieldsAreBigEndian) {
  unsigned char b[2];
  for (unsigned value : {0u, 1u, 0x1234u, 0xFF00u, 0xFFFFu}) {
    put_u16_be(b, value);
    EXPECT_EQ(b[0], value >> 8);
    EXPECT_EQ(b[1], value & 0xFF);
    EXPECT_EQ(get_u16_be(b), value);
  }
  const unsigned char high_bits[] = {0x80, 0xFF};  // both bytes read as unsigned
  EXPECT_EQ(get_u16_be(high_bits), 0x80FFu);
}

TEST(TftpPacket, OptionAckCarriesTheSizeAndTheTimeout) {
  std::array<unsigned char, TFTP_PACKET_SIZE> buffer{};
  std::size_t n = build_option_ack(buffer, 1024);
  const std::string expected(
      "\0\6tsize\0"
      "1024\0timeout\0"
      "5\0",
      23);
  ASSERT_EQ(n, 23u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), n), expected);
  // The length follows the digits of the size.
  EXPECT_EQ(build_option_ack(buffer, 0), 20u);
  EXPECT_EQ(build_option_ack(buffer, 33553919), 27u);
  EXPECT_EQ(build_option_ack(buffer, 0xFFFFFFFFu), 29u);
  std::array<unsigned char, 22> small{};
  EXPECT_EQ(build_option_ack(small, 1024), 0u);  // one byte short
}

TEST(TftpPacket, DataBlockCarriesHeaderAndPayloadWithinItsBuffer) {
  std::array<unsigned char, TFTP_PACKET_SIZE> buffer{};
  const unsigned char payload[3] = {7, 8, 9};
  ASSERT_EQ(build_data_block(buffer, payload, 3, 0x10203), 7u);
  const unsigned char expected[7] = {0, 3, 0x02, 0x03, 7, 8, 9};  // block number travels as 16 bits
  EXPECT_EQ(0, std::memcmp(buffer.data(), expected, 7));
  EXPECT_EQ(build_data_block(buffer, nullptr, 0, 5), 4u);
  // Never past its buffer.
  std::array<unsigned char, 600> big{};
  EXPECT_EQ(build_data_block(buffer, big.data(), 513, 1), 0u);
  std::array<unsigned char, 100> small{};
  EXPECT_EQ(build_data_block(small, big.data(), 97, 1), 0u);
  EXPECT_EQ(build_data_block(small, big.data(), 96, 1), 100u);
}

}  // namespace
}  // namespace qor
