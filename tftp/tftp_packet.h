// TFTP packet layouts: what the program sends to the device and how it reads what comes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "net/socket.h"

namespace qor {

inline constexpr std::size_t TFTP_PACKET_SIZE = 1024;
inline constexpr std::uint32_t TFTP_BLOCK_SIZE = 512;
inline constexpr std::size_t TFTP_HEADER_SIZE = 4;  // opcode and block number

inline constexpr unsigned TFTP_RRQ = 1;
inline constexpr unsigned TFTP_WRQ = 2;
inline constexpr unsigned TFTP_DATA = 3;
inline constexpr unsigned TFTP_ACK = 4;
inline constexpr unsigned TFTP_ERROR = 5;
inline constexpr unsigned TFTP_OACK = 6;

// The timeout the device is told to use, in seconds.
inline constexpr const char* TFTP_OPTION_TIMEOUT = "5";

void put_u16_be(unsigned char* dst, unsigned value);
unsigned get_u16_be(const unsigned char* src);

// Builds the option acknowledgement ("tsize" = image size, "timeout" = 5) into `buffer`; returns its
// length, or 0 when it does not fit.
std::size_t build_option_ack(std::span<unsigned char> buffer, std::uint32_t image_size);
// Builds DATA with up to TFTP_BLOCK_SIZE bytes of `payload`; returns its length, or 0 when it does not fit.
std::size_t build_data_block(std::span<unsigned char> buffer, const unsigned char* payload,
                             std::size_t length, std::uint32_t block);

// Build the packet in `buffer` and send it with one datagram; a failed send is left to the next
// retransmission, so the result only says whether the datagram went out.
bool send_option_ack(SocketHandle sock, std::span<unsigned char> buffer, const Endpoint& to,
                     std::uint32_t image_size);
bool send_data_block(SocketHandle sock, std::span<unsigned char> buffer, const unsigned char* payload,
                     std::size_t length, std::uint32_t block, const Endpoint& to);

}  // namespace qor
