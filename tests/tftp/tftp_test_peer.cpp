#include "tests/tftp/tftp_test_peer.h"

#include "tftp/tftp_packet.h"

namespace qor::test {

unsigned Datagram::opcode() const {
  return bytes.size() >= 2 ? get_u16_be(bytes.data()) : 0xFFFF;
}
unsigned Datagram::block() const {
  return bytes.size() >= 4 ? get_u16_be(bytes.data() + 2) : 0xFFFF;
}
Bytes Datagram::payload() const {
  return bytes.size() > 4 ? Bytes(bytes.begin() + 4, bytes.end()) : Bytes{};
}

TftpTestPeer::TftpTestPeer(std::uint32_t address, std::uint16_t port)
    : sock_(open_udp_socket()), address_(address) {
  if (!sock_.valid()) return;
  if (!bind_socket(sock_.get(), address, port)) {
    sock_.close();
    return;
  }
  port_ = local_port(sock_.get());
}

void TftpTestPeer::aim(std::uint32_t address, std::uint16_t port) {
  target_ = {address, port};
}

void TftpTestPeer::send(const Bytes& bytes) {
  send_datagram(sock_.get(), bytes.data(), bytes.size(), target_);
}

Bytes rrq_bytes(const std::string& name, const std::string& mode) {
  Bytes b{0, 1};
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  b.insert(b.end(), mode.begin(), mode.end());
  b.push_back(0);
  return b;
}

void TftpTestPeer::send_rrq(const std::string& name, const std::string& mode) {
  send(rrq_bytes(name, mode));
}

void TftpTestPeer::send_ack(unsigned block) {
  Bytes b(4);
  put_u16_be(b.data(), TFTP_ACK);
  put_u16_be(b.data() + 2, block);
  send(b);
}

void TftpTestPeer::send_error(unsigned code, const std::string& message) {
  Bytes b(4);
  put_u16_be(b.data(), TFTP_ERROR);
  put_u16_be(b.data() + 2, code);
  b.insert(b.end(), message.begin(), message.end());
  b.push_back(0);
  send(b);
}

std::optional<Datagram> TftpTestPeer::receive(std::chrono::milliseconds timeout) {
  if (!wait_readable(sock_.get(), static_cast<int>(timeout.count()))) return std::nullopt;
  Datagram d;
  d.bytes.resize(2048);
  long n = receive_datagram(sock_.get(), d.bytes.data(), d.bytes.size(), d.from_address, d.from_port);
  if (n < 0) return std::nullopt;
  d.bytes.resize(static_cast<std::size_t>(n));
  return d;
}

std::vector<Datagram> TftpTestPeer::drain(std::chrono::milliseconds quiet) {
  std::vector<Datagram> out;
  while (auto d = receive(quiet))
    out.push_back(std::move(*d));
  return out;
}

bool TftpTestPeer::fetch_after_oack(Bytes& image, std::vector<std::size_t>* block_sizes) {
  unsigned expected = 1;
  send_ack(0);
  for (;;) {
    auto d = receive();
    if (!d || d->opcode() != TFTP_DATA || d->block() != (expected & 0xFFFF)) return false;
    Bytes payload = d->payload();
    image.insert(image.end(), payload.begin(), payload.end());
    if (block_sizes) block_sizes->push_back(payload.size());
    send_ack(d->block());
    if (payload.size() < TFTP_BLOCK_SIZE) return true;
    ++expected;
  }
}

}  // namespace qor::test
