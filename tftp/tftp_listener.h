// The TFTP server endpoint: waits for the device's read request and hands it to the transfer.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/socket.h"
#include "ui/toolkit.h"

namespace qor {

inline constexpr std::uint16_t TFTP_FIRST_PORT = 69;
inline constexpr int TFTP_PORT_ATTEMPTS = 100;  // ports 69 to 168
inline constexpr int IDC_WAITING_TEXT = 1022;

// Room for the opcode and a file name as long as tftp_filename with its terminator; a longer
// datagram is cut to this size, and a name without its terminator in here is not ours.
inline constexpr std::size_t TFTP_RX_BUFFER_SIZE = 130;

struct TftpListener {
  std::uint32_t local_addr;  // 0 binds to the wildcard address
  std::uint16_t port;
  Socket sock;
  unsigned char rx_buffer[TFTP_RX_BUFFER_SIZE];
};

// What the waiting window explains the first time it is shown.
extern const char* const WAITING_HELP_TEXT;

// The waiting window (dialog 114) while the listener waits for a request.
extern std::atomic<Window> waiting_window;

// What the listener makes of one datagram as read: true for a read request that names tftp_filename
// (terminator included); anything else leaves a trace line at most and is never answered.
bool accept_listener_datagram(const unsigned char* datagram, std::size_t length);

// Binds UDP port 69 or the next free one up to 168 on `local_addr`, starts the listener thread and
// returns the bound port. Does not return on failure.
std::uint16_t start_tftp_listener(std::uint32_t local_addr);

// The listener thread's body. It ends the process after the target stage has been served.
[[noreturn]] void tftp_listener_thread(TftpListener* listener);

}  // namespace qor
