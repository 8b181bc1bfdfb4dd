#include "tftp/tftp_packet.h"

#include <cstdio>
#include <cstring>

namespace qor {

void put_u16_be(unsigned char* dst, unsigned value) {
  dst[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
  dst[1] = static_cast<unsigned char>(value & 0xFF);
}

unsigned get_u16_be(const unsigned char* src) {
  return static_cast<unsigned>(src[0]) * 256u + src[1];
}

namespace {

// Appends `text` and its terminator at `at`; false when it would not fit.
bool append_string(std::span<unsigned char> buffer, std::size_t& at, const char* text) {
  std::size_t n = std::strlen(text) + 1;
  if (at + n > buffer.size()) return false;
  std::memcpy(buffer.data() + at, text, n);
  at += n;
  return true;
}

}  // namespace

std::size_t build_option_ack(std::span<unsigned char> buffer, std::uint32_t image_size) {
  if (buffer.size() < 2) return 0;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(image_size));
  put_u16_be(buffer.data(), TFTP_OACK);
  std::size_t at = 2;
  bool fits = append_string(buffer, at, "tsize") && append_string(buffer, at, digits) &&
              append_string(buffer, at, "timeout") && append_string(buffer, at, TFTP_OPTION_TIMEOUT);
  return fits ? at : 0;
}

std::size_t build_data_block(std::span<unsigned char> buffer, const unsigned char* payload,
                             std::size_t length, std::uint32_t block) {
  if (length > TFTP_BLOCK_SIZE || buffer.size() < TFTP_HEADER_SIZE + length) return 0;
  put_u16_be(buffer.data(), TFTP_DATA);
  put_u16_be(buffer.data() + 2, block & 0xFFFF);
  if (length > 0) std::memcpy(buffer.data() + TFTP_HEADER_SIZE, payload, length);
  return TFTP_HEADER_SIZE + length;
}

bool send_option_ack(SocketHandle sock, std::span<unsigned char> buffer, const Endpoint& to,
                     std::uint32_t image_size) {
  std::size_t n = build_option_ack(buffer, image_size);
  return n > 0 && send_datagram(sock, buffer.data(), n, to) == static_cast<long>(n);
}

bool send_data_block(SocketHandle sock, std::span<unsigned char> buffer, const unsigned char* payload,
                     std::size_t length, std::uint32_t block, const Endpoint& to) {
  std::size_t n = build_data_block(buffer, payload, length, block);
  return n > 0 && send_datagram(sock, buffer.data(), n, to) == static_cast<long>(n);
}

}  // namespace qor
