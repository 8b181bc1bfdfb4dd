// Peers that misbehave on purpose while the image is served: strangers throwing datagrams at the port,
// datagrams far larger than any TFTP packet, read requests without a terminator. The device must still
// get its image intact, nobody else may get an answer, and Cancel must still end the run.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "app/process.h"
#include "tests/tftp/session_fixture.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_templates.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TftpTestPeer;

constexpr std::uint32_t LOOPBACK = 0x7F000001;
constexpr std::uint32_t DEVICE = 0x7F003201;    // 127.0.50.1
constexpr std::uint32_t STRANGER = 0x7F003202;  // 127.0.50.2
const char* const NAME = "/qor1a2b.bi1";
constexpr std::size_t HUGE_DATAGRAM = 16384;  // a burst of junk stays well inside a socket buffer

Bytes ack_of(unsigned block, std::size_t size = 4) {
  Bytes b(size, 0xEE);
  put_u16_be(b.data(), TFTP_ACK);
  put_u16_be(b.data() + 2, block);
  return b;
}

// A read request for our name that reaches `size` bytes without a terminator.
Bytes unterminated_request(std::size_t size) {
  Bytes b = test::rrq_bytes(NAME);
  b.resize(2 + std::strlen(NAME));
  b.resize(size, 'x');
  return b;
}

Bytes data_of(std::size_t size) {
  Bytes b(size, 0x5A);
  put_u16_be(b.data(), TFTP_DATA);
  return b;
}

// What gets thrown at the server between two acknowledgements of the device. `awaited` is the block
// the server waits for; acknowledgements of it are included only when they come from elsewhere, and a
// repeated read request for our name only when a transfer is already running.
std::vector<Bytes> junk(unsigned awaited, bool from_elsewhere, bool transferring) {
  std::vector<Bytes> out = {ack_of(awaited - 1),
                            ack_of(awaited - 1, 1500),
                            data_of(1500),
                            Bytes(HUGE_DATAGRAM, 0xFF),
                            unterminated_request(1500),
                            test::rrq_bytes(transferring ? NAME : "/QOR1A2B.bi1"),
                            Bytes{0, 4},
                            Bytes{}};
  if (from_elsewhere) {
    out.push_back(ack_of(awaited));
    out.push_back(ack_of(awaited, 1500));
  }
  return out;
}

void throw_at(TftpTestPeer& peer, const std::vector<Bytes>& datagrams) {
  for (const Bytes& d : datagrams)
    peer.send(d);
}

// Sends junk without pause until stopped: a flood, not a fixed burst.
class Flooder {
 public:
  Flooder(std::uint32_t address, std::uint32_t target, std::uint16_t port, bool transferring)
      : peer_(address) {
    peer_.aim(target, port);
    thread_ = std::thread([this, transferring] {
      for (unsigned i = 0; !stop_; ++i) {
        throw_at(peer_, junk(i, true, transferring));
        std::this_thread::yield();
      }
    });
  }
  ~Flooder() {
    stop_ = true;
    thread_.join();
  }
  TftpTestPeer& peer() { return peer_; }

 private:
  TftpTestPeer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class HostileSession : public test::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    target_bytes_ = test::pattern_bytes(3000, 5);
    test::make_image(target_image, target_bytes_, "3.2.1");
  }
};

struct Intruder {
  const char* name;
  std::uint32_t address;  // 0: the junk comes from the device's own port
};

class SessionIntruder : public HostileSession, public ::testing::WithParamInterface<Intruder> {};

// Before every acknowledgement the intruder throws its junk; each acknowledgement must still be answered
// with exactly the next block, and nobody else is answered at all.
TEST_P(SessionIntruder, DeviceStillGetsTheWholeImageAndNobodyElseAnything) {
  TftpTestPeer device(DEVICE);
  TftpTestPeer stranger(GetParam().address ? GetParam().address : DEVICE);
  TftpTestPeer& intruder = GetParam().address ? stranger : device;
  const bool from_elsewhere = &intruder != &device;
  intruder.aim(LOOPBACK, server_port_);
  test::TraceRecorder traces;
  start(device);
  auto oack = device.receive();
  ASSERT_TRUE(oack && oack->opcode() == TFTP_OACK);

  Bytes received;
  std::size_t thrown = 0;
  for (unsigned block = 0;; ++block) {
    const std::vector<Bytes> burst = junk(block, from_elsewhere, true);
    throw_at(intruder, burst);
    thrown += burst.size();
    device.send_ack(block);
    auto d = device.receive();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->opcode(), TFTP_DATA);
    ASSERT_EQ(d->block(), block + 1);
    Bytes payload = d->payload();
    received.insert(received.end(), payload.begin(), payload.end());
    if (payload.size() < TFTP_BLOCK_SIZE) {
      device.send_ack(block + 1);
      break;
    }
  }
  worker_.join();
  EXPECT_EQ(received, target_bytes_);
  EXPECT_TRUE(device.drain(50ms).empty());
  if (from_elsewhere) {
    EXPECT_TRUE(stranger.drain(50ms).empty());
    // Each of them was read and put aside as a stranger's, acknowledgements of the awaited block too.
    std::size_t strangers = 0;
    for (const std::string& line : test::TraceRecorder::get())
      strangers += line.rfind("Unknown source request in session: ", 0) == 0;
    EXPECT_EQ(strangers, thrown);
  }
  for (const std::string& text : box_texts())
    EXPECT_NE(text, "Upgrade Failed: Firmware Upload Incomplete");
}

INSTANTIATE_TEST_SUITE_P(From, SessionIntruder,
                         ::testing::Values(Intruder{"AnotherPortOfTheDevice", DEVICE},
                                           Intruder{"AnotherHost", STRANGER}, Intruder{"TheDeviceItself", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel on the upload window while the device has fallen silent and strangers flood its port.
TEST_F(HostileSession, CancelStillEndsATransferUnderAFlood) {
  TftpTestPeer device(DEVICE);
  start(device);
  ASSERT_TRUE(device.receive());
  device.send_ack(0);
  ASSERT_TRUE(device.receive());
  Window upload = fake_->wait_for(IDD_UPLOAD);
  {
    Flooder flood(STRANGER, LOOPBACK, server_port_, true);
    fake_->click(upload, IDCANCEL);
    ASSERT_TRUE(trap_.wait());
  }
  worker_.join();
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: User Abort"});
}

// The listener on its low port: skipped where such ports cannot be bound.
class HostileListener : public test::TftpStateTest {
 protected:
  static constexpr std::uint32_t ADDRESS = 0x7F003301;  // 127.0.51.1

  void SetUp() override {
    TftpStateTest::SetUp();
    Socket probe(open_udp_socket());
    if (!bind_socket(probe.get(), ADDRESS, TFTP_FIRST_PORT) && errno == EACCES)
      GTEST_SKIP() << "low ports need privilege";
    probe.close();
    set_tftp_filename(NAME);
    started_ = true;
    port_ = start_tftp_listener(ADDRESS);
  }

  void TearDown() override {
    if (started_) cancel_until_ended();
    set_tftp_filename("");
    TftpStateTest::TearDown();
  }

  bool started_ = false;
  std::uint16_t port_ = 0;
};

// Oversized datagrams and names without a terminator are dropped unanswered; a read request whose
// options run far past the receive buffer is still served, since its name arrived whole.
TEST_F(HostileListener, OversizedAndUnterminatedRequestsAreDroppedUntilAGoodOne) {
  Window waiting = fake_->wait_for(IDD_WAITING);
  TftpTestPeer device(0x7F003302);
  device.aim(ADDRESS, port_);
  throw_at(device, {unterminated_request(TFTP_RX_BUFFER_SIZE), unterminated_request(1500),
                    unterminated_request(HUGE_DATAGRAM), Bytes(HUGE_DATAGRAM, 0), data_of(1500)});
  EXPECT_TRUE(device.drain(200ms).empty());
  EXPECT_FALSE(trap_.ended());
  EXPECT_TRUE(fake_->snapshot(waiting).has_value());

  Bytes request = test::rrq_bytes(NAME);
  request.resize(1500, 'o');
  device.send(request);
  auto oack = device.receive();
  ASSERT_TRUE(oack && oack->opcode() == TFTP_OACK);
  Bytes received;
  ASSERT_TRUE(device.fetch_after_oack(received));
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(received, target_bytes_);
}

TEST_F(HostileListener, CancelStillEndsTheWaitUnderAFlood) {
  Window waiting = fake_->wait_for(IDD_WAITING);
  {
    Flooder flood(0x7F003303, ADDRESS, port_, false);
    fake_->click(waiting, IDCANCEL);
    ASSERT_TRUE(trap_.wait());
    EXPECT_TRUE(flood.peer().drain(50ms).empty());
  }
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: User Abort"});
}

}  // namespace
}  // namespace qor
