// A small TFTP client for the tests: sends read requests and acknowledgements from its own loopback
// socket and reads what the server sends back; and the test images it fetches.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/socket.h"

namespace qor::test {

using Bytes = std::vector<unsigned char>;

struct Datagram {
  Bytes bytes;
  std::uint32_t from_address = 0;
  std::uint16_t from_port = 0;

  unsigned opcode() const;
  unsigned block() const;  // DATA and ACK
  Bytes payload() const;   // DATA
};

class TftpTestPeer {
 public:
  // Binds a UDP socket to `address` and an ephemeral port (or `port`).
  explicit TftpTestPeer(std::uint32_t address = 0x7F000001, std::uint16_t port = 0);

  bool ok() const { return sock_.valid(); }
  std::uint32_t address() const { return address_; }
  std::uint16_t port() const { return port_; }

  // Where the requests and acknowledgements go; reply() also points it at the last datagram's source.
  void aim(std::uint32_t address, std::uint16_t port);

  void send(const Bytes& bytes);
  void send_rrq(const std::string& name, const std::string& mode = "octet");
  void send_ack(unsigned block);
  void send_error(unsigned code, const std::string& message);

  std::optional<Datagram> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads datagrams until `timeout` passes without one; returns how many came.
  std::vector<Datagram> drain(std::chrono::milliseconds quiet);

  // Acknowledges the OACK and then every DATA block until a short one; the image as received.
  // Returns false when something else or nothing came.
  bool fetch_after_oack(Bytes& image, std::vector<std::size_t>* block_sizes = nullptr);

 private:
  Socket sock_;
  std::uint32_t address_ = 0;
  std::uint16_t port_ = 0;
  Endpoint target_{};
};

Bytes rrq_bytes(const std::string& name, const std::string& mode = "octet");

// Test image bytes: a pattern that differs from block to block and from seed to seed.
inline Bytes pattern_bytes(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<unsigned char>(i * 13 + i / 512 + seed);
  return b;
}

}  // namespace qor::test
