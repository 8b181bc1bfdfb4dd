// The TFTP server endpoint: binds its port and waits for the device's read request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/outcome.h"
#include "base/run.h"
#include "net/socket.h"

namespace qor {

inline constexpr std::uint16_t TFTP_FIRST_PORT = 69;
inline constexpr int TFTP_PORT_ATTEMPTS = 100;  // ports 69 to 168
inline constexpr int WAITING_PROGRESS_STEPS = 1000;

// Room for the opcode and a file name as long as tftp_filename with its terminator; a longer
// datagram is cut to this size, and a name without its terminator in here is not ours.
inline constexpr std::size_t TFTP_RX_BUFFER_SIZE = 130;

struct TftpListener {
  std::uint32_t local_addr;  // 0 binds to the wildcard address
  std::uint16_t port;
  Socket sock;
  unsigned char rx_buffer[TFTP_RX_BUFFER_SIZE];
};

// Where an accepted read request came from.
struct TftpRequester {
  std::uint32_t address;
  std::uint16_t port;
};

// Creates the UDP socket and binds it to `local_addr` and port 69 or the next free one up to 168:
// Outcome::none, or listener_socket_failed / listener_bind_failed.
Outcome open_tftp_listener(std::uint32_t local_addr, TftpListener& listener);

// What the listener makes of one datagram as read: true for a read request that names `expected`
// (terminator included); anything else leaves a trace line at most and is never answered.
bool accept_listener_datagram(const unsigned char* datagram, std::size_t length,
                              const TftpFilename& expected);

// Shows the waiting window (dialog 114; its explanation only when `explain`), polls the socket until the
// device at `device` asks for `expected` and destroys the window again. Nothing from another address is
// looked at or answered: whoever else knows or guesses the name gets nothing. Outcome::none with the
// requester, or user_abort when the user cancelled (the window is then gone already). Should another
// thread end the run meanwhile, it ends this thread too (end_run).
Outcome wait_for_read_request(TftpListener& listener, const TftpFilename& expected, std::uint32_t device,
                              bool explain, const Timing& timing, TftpRequester& requester);

}  // namespace qor
