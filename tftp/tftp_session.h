// One firmware transfer, in lock step, to the device that asked for it.
#pragma once

#include <cstdint>

#include "base/outcome.h"
#include "base/timing.h"
#include "net/socket.h"
#include "tftp/tftp_packet.h"
#include "ui/toolkit.h"

namespace qor {

enum class TransferState {
  sending_oack,   // the option acknowledgement is in flight
  sending_block,  // block next_block is in flight
  done,           // every block has been acknowledged
  timed_out,      // max_intervals intervals passed without the awaited acknowledgement
};

enum class TransferEvent {
  start,          // the transfer begins
  acknowledged,   // the acknowledgement awaited has arrived
  interval_over,  // one retransmission interval passed without it
};

enum class TransferAction {
  send_oack,   // send (or resend) the option acknowledgement
  send_block,  // send (or resend) block next_block, block_len bytes
  finish,      // the transfer is over: done or timed_out
};

struct TftpSession {
  unsigned char packet[TFTP_PACKET_SIZE];  // each outgoing packet is built here, each datagram read here
  std::uint32_t local_addr;
  std::uint32_t peer_addr;
  std::uint16_t peer_port;
  SocketHandle sock;
  TransferState state;
  std::uint32_t next_block;  // the block whose acknowledgement is awaited; 0 for the OACK
  std::uint32_t image_size;
  std::uint32_t block_count;  // image_size / 512 + 1: the last block is short, possibly empty
  std::int32_t acked_bytes;
  std::int32_t last_block_len;
  std::int32_t block_len;  // payload of the packet in flight
  unsigned intervals;      // intervals in a row without the awaited acknowledgement
  unsigned max_intervals;
};

// What one read of the socket brought.
enum class Arrival {
  nothing,       // no datagram waiting
  unproductive,  // from elsewhere, or not an acknowledgement
  stale,         // an acknowledgement of another block
  matched,       // the acknowledgement awaited
};

// The record of the waiting and upload windows: Cancel (or the close box) destroys the window and
// marks it here; the loop that pumps the window reports the abort.
struct TransferWindowState {
  bool cancelled = false;
};

// The upload window as the transfer shows its progress in it.
struct UploadView {
  Window window;
  const TransferWindowState* state;
  const char* stage_name;  // "Target" or "Transition"
  const char* device_address_text;
};

void init_tftp_session(TftpSession& session, SocketHandle sock, std::uint32_t local_addr,
                       std::uint32_t peer_addr, std::uint16_t peer_port, std::uint32_t image_size,
                       unsigned max_intervals = 30);

// The transfer's one rule: takes an event, moves the state on and says what to send.
TransferAction step_transfer(TftpSession& session, TransferEvent event);

// What a datagram of `length` bytes from `from`:`port`, read into session.packet, means for the transfer.
Arrival classify_arrival(const TftpSession& session, std::size_t length, std::uint32_t from,
                         std::uint16_t port);
// Where the payload of block next_block starts in `image`; null while the OACK is in flight.
const unsigned char* block_payload(const TftpSession& session, const unsigned char* image);

// Lock-step transfer of `image` (session.image_size bytes) on the session's socket, showing progress in
// the upload window and pumping it. Outcome::none when every block was acknowledged; upload_incomplete
// on the time-out; user_abort on Cancel.
Outcome run_transfer(TftpSession& session, const unsigned char* image, const UploadView& view,
                     const Timing& timing);

// Shared by the upload window and the waiting window; init parameter: their TransferWindowState.
std::intptr_t transfer_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam);

}  // namespace qor
