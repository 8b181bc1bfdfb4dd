// What the transport tests share: the junk hostile peers throw, and a transfer
// or a listener's wait run from a loopback socket of its own on a thread of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"
#include "base/run.h"
#include "net/socket.h"
#include "tests/support/fake_toolkit.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"

namespace qor::test {

inline constexpr std::uint32_t LOOPBACK = 0x7F000001;
inline constexpr const char* NAME = "/qor1a2b.bi1";
inline constexpr std::size_t HUGE_DATAGRAM = 16384;  // a burst of junk stays well inside a socket buffer

inline Bytes ack_of(unsigned block, std::size_t size = 4) {
  Bytes b(size, 0xEE);
  put_u16_be(b.data(), TFTP_ACK);
  put_u16_be(b.data() + 2, block);
  return b;
}

inline Bytes data_of(std::size_t size) {
  Bytes b(size, 0x5A);
  put_u16_be(b.data(), TFTP_DATA);
  return b;
}

// A read request for our name that reaches `size` bytes without a terminator.
inline Bytes unterminated_request(std::size_t size) {
  Bytes b = rrq_bytes(NAME);
  b.resize(2 + std::strlen(NAME));
  b.resize(size, 'x');
  return b;
}

// What gets thrown at the server while it waits for the acknowledgement of block `awaited`: those of
// other blocks, short and oversized ones, other packets, read requests. An acknowledgement of the awaited
// block is included only when it comes from elsewhere, a read request for our name only when a transfer
// is already running.
inline std::vector<Bytes> junk(unsigned awaited, bool from_elsewhere, bool transferring) {
  // First, while the block just sent is still in the buffer they are read into: acknowledgements that
  // lack half or all of their block number, so that the number left there must not count.
  std::vector<Bytes> out = {Bytes{0, 4, 0},
                            Bytes{0, 4},
                            ack_of(awaited - 1),
                            ack_of(awaited + 1),
                            ack_of(awaited - 1, 1500),
                            data_of(1500),
                            Bytes(HUGE_DATAGRAM, 0xFF),
                            unterminated_request(1500),
                            rrq_bytes(transferring ? NAME : "/QOR1A2B.bi1"),
                            Bytes{}};
  if (from_elsewhere) {
    out.push_back(ack_of(awaited));
    out.push_back(ack_of(awaited, 1500));
  }
  return out;
}

inline void throw_at(TftpTestPeer& peer, const std::vector<Bytes>& datagrams) {
  for (const Bytes& d : datagrams)
    peer.send(d);
}

// A thread of the test that waits, or transfers, on a loopback socket of its own.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Long intervals: in most tests a retransmission can only come from a fault. A test that failed
    // half-way leaves the transfer to time out after 10 s.
    timing_.polls_per_interval = 2000;
    timing_.max_intervals = 5;
    sock_ = Socket(open_udp_socket());
    ASSERT_TRUE(bind_socket(sock_.get(), LOOPBACK, 0));
    port_ = local_port(sock_.get());
    ASSERT_TRUE(peer_.ok());
    peer_.aim(LOOPBACK, port_);
  }

  void TearDown() override { worker_.end(); }  // before the sockets and images of subclasses go
  Outcome finish() { return worker_.finish(); }

  // Calls `send` without pause until the thread is done (or 20 s have passed): a flood, not a burst.
  void flood(const std::function<void()>& send) {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         !worker_.done() && std::chrono::steady_clock::now() < until;) {
      for (int i = 0; i < 50; ++i)
        send();
      std::this_thread::yield();
    }
  }

  ScopedFakeToolkit fake_;
  ExitTrap trap_;
  Timing timing_;
  Socket sock_;
  std::uint16_t port_ = 0;
  TftpTestPeer peer_;          // the device
  CoreThread worker_{*fake_};  // waits, or transfers, on sock_ with timing_
};

// The lock-step transfer of `image_` to peer_, behind an upload window of the thread's own or none.
class TransferTest : public TransportTest {
 protected:
  void start(Bytes image, bool window = false) {
    image_ = std::move(image);
    worker_.start([this, window] {
      TftpSession session;
      init_tftp_session(session, sock_.get(), LOOPBACK, peer_.address(), peer_.port(),
                        static_cast<std::uint32_t>(image_.size()), timing_.max_intervals);
      TransferWindowState state;
      const Window w = window ? toolkit().create_dialog(IDD_UPLOAD, transfer_dialog_proc,
                                                        reinterpret_cast<std::intptr_t>(&state))
                              : Window::none;
      return run_transfer(session, image_.data(), {w, &state, "Target", "127.0.0.1"}, timing_);
    });
  }

  Bytes image_;
};

// The wait for the read request of NAME on a listener of the test's own, on an ephemeral port.
class WaitTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    listener_.local_addr = LOOPBACK;
    listener_.port = port_;
    listener_.sock = std::move(sock_);
    filename_.set(NAME);
  }

  void start(bool explain = true) {
    worker_.start([this, explain] {
      return wait_for_read_request(listener_, filename_, peer_.address(), explain, timing_, requester_);
    });
  }

  TftpListener listener_{};
  TftpFilename filename_;
  TftpRequester requester_{};
};

}  // namespace qor::test
