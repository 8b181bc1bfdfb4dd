// The datagrams a transfer reads while it serves the image: the device's acknowledgements and whatever
// else reaches its port, each taken as the session takes it, with no socket in between.
//
// Input: two bytes of image size (big-endian), then datagrams, each one byte of source (bit 0: another
// address, bit 1: another port), two bytes of length (big-endian) and the bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/trace.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"

namespace {

constexpr std::uint32_t LOCAL = 0x7F000001;
constexpr std::uint32_t DEVICE = 0x7F000002;
constexpr std::uint16_t DEVICE_PORT = 2000;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void trace_sink(const char* line) {
  check(std::strlen(line) < 1024);
}

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  std::size_t left() const { return size - at; }
  unsigned u8() { return at < size ? data[at++] : 0; }
  unsigned u16() { return u8() * 256u + u8(); }
};

// Reads the next datagram into the session's packet buffer, cut to that buffer as a read of the
// socket cuts it; returns its length.
std::size_t next_datagram(Input& in, qor::TftpSession& s, std::uint32_t& from, std::uint16_t& port) {
  unsigned source = in.u8();
  from = source & 1 ? DEVICE + 1 : DEVICE;
  port = source & 2 ? DEVICE_PORT + 1 : DEVICE_PORT;
  std::size_t length = std::min<std::size_t>(in.u16(), in.left());
  std::size_t kept = std::min(length, sizeof s.packet);
  std::memcpy(s.packet, in.data + in.at, kept);
  in.at += length;
  return kept;
}

// After the acknowledgement of block `acked`: the counts move on, and the next block's payload lies
// inside the image.
bool check_step(qor::TftpSession& s, const unsigned char* image, std::uint32_t acked) {
  const bool complete =
      qor::step_transfer(s, qor::TransferEvent::acknowledged) == qor::TransferAction::finish;
  check(s.state == (complete ? qor::TransferState::done : qor::TransferState::sending_block));
  check(s.next_block == acked + 1);
  check(static_cast<std::uint32_t>(s.acked_bytes) == std::min(acked * qor::TFTP_BLOCK_SIZE, s.image_size));
  if (complete) {
    check(acked == s.block_count && static_cast<std::uint32_t>(s.acked_bytes) == s.image_size);
    return true;
  }
  const unsigned char* payload = qor::block_payload(s, image);
  const auto length = static_cast<std::size_t>(s.block_len);
  check(length <= qor::TFTP_BLOCK_SIZE && payload >= image && payload + length <= image + s.image_size);
  check(qor::build_data_block(s.packet, payload, length, s.next_block) == qor::TFTP_HEADER_SIZE + length);
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (qor::set_trace_sink(trace_sink), true);
  (void)ready;
  Input in{data, size};
  const std::uint32_t image_size = in.u16();
  // Exactly the image's bytes, so that a block read past its end is caught.
  std::unique_ptr<unsigned char[]> image(new unsigned char[image_size]);
  std::memset(image.get(), 0x5A, image_size);
  qor::TftpSession s;
  qor::init_tftp_session(s, qor::INVALID_SOCKET_HANDLE, LOCAL, DEVICE, DEVICE_PORT, image_size);
  check(qor::step_transfer(s, qor::TransferEvent::start) == qor::TransferAction::send_oack);
  check(qor::build_option_ack(s.packet, image_size) > 0);  // the OACK is the first packet out
  while (in.left() > 0) {
    std::uint32_t from = 0;
    std::uint16_t port = 0;
    std::size_t length = next_datagram(in, s, from, port);
    qor::Arrival arrival = qor::classify_arrival(s, length, from, port);
    check(arrival != qor::Arrival::nothing);
    if (from != DEVICE || port != DEVICE_PORT) check(arrival == qor::Arrival::unproductive);
    if (arrival != qor::Arrival::matched) continue;
    check(length >= qor::TFTP_HEADER_SIZE && qor::get_u16_be(s.packet) == qor::TFTP_ACK);
    if (check_step(s, image.get(), s.next_block)) break;
  }
  return 0;
}
