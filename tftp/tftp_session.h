// One firmware transfer to the device that asked for it, the wait while the device flashes it, and the
// check that the device now reports the served version.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/firmware.h"
#include "net/socket.h"
#include "tftp/tftp_packet.h"
#include "ui/toolkit.h"

namespace qor {

struct TftpSession {
  unsigned char packet[TFTP_PACKET_SIZE];  // each outgoing packet is built here, each datagram read here
  std::uint32_t local_addr;
  std::uint32_t peer_addr;
  std::uint16_t peer_port;
  SocketHandle sock;
  std::uint32_t next_block;  // the block whose acknowledgement is awaited; 0 while the OACK is in flight
  std::uint32_t image_size;
  std::uint32_t block_count;  // image_size / 512 + 1: the last block is short, possibly empty
  std::int32_t acked_bytes;
  std::int32_t last_block_len;
  std::int32_t block_len;  // payload of the packet in flight
};

enum class TransferOutcome { complete, timeout };

// What one read of the socket brought.
enum class Arrival {
  nothing,       // no datagram waiting
  unproductive,  // from elsewhere, or not an acknowledgement
  stale,         // an acknowledgement of another block
  matched,       // the acknowledgement awaited
};

// The upload window (dialog 110) while a transfer and its settling wait run.
extern std::atomic<Window> upload_window;

// Serves the image of the current stage to the requester on the listener's socket, waits for the
// device to flash it and verifies the result. Always returns 0: the outcome reaches the user only.
// Does not return when the user cancels.
int run_tftp_session(SocketHandle sock, std::uint32_t local_addr, std::uint32_t peer_addr,
                     std::uint16_t peer_port);

// The steps of a session, for callers that need one alone.
void init_tftp_session(TftpSession& session, SocketHandle sock, std::uint32_t local_addr,
                       std::uint32_t peer_addr, std::uint16_t peer_port, std::uint32_t image_size);
// What a datagram of `length` bytes from `from`:`port`, read into session.packet, means for the transfer.
Arrival classify_arrival(const TftpSession& session, std::size_t length, std::uint32_t from,
                         std::uint16_t port);
// Moves past the awaited acknowledgement: true once every block has been acknowledged; otherwise
// next_block and block_len name the block to send now.
bool take_acknowledgement(TftpSession& session);
// Where the payload of block next_block starts in `image`; null while the OACK is in flight.
const unsigned char* block_payload(const TftpSession& session, const unsigned char* image);
// Lock-step transfer of `image` (session.image_size bytes); `window` shows the progress and is pumped.
TransferOutcome run_transfer(TftpSession& session, const unsigned char* image, Window window,
                             const char* stage_name);
// The fixed wait while the device writes its flash, counted on the wrapping millisecond clock.
void run_settling_wait(Window window, const char* stage_name);
// Reads the status page of the device that fetched the image and compares its version.
void verify_upgrade(const TftpSession& session, const FirmwareImage& image, std::int32_t stage);

// Shared by the upload window and the waiting window: Cancel (or the close box) aborts the upgrade.
std::intptr_t transfer_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam);

}  // namespace qor
