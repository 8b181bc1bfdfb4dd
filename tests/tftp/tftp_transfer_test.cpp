// The lock-step transfer: its state machine event by event, then against a test client on loopback -
// block layout, which datagrams count, retransmission, time-out and Cancel, also under hostile peers.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <thread>

#include "tests/support/http_test_server.h"
#include "tests/tftp/tftp_fixture.h"
#include "tftp/tftp_session.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::LOOPBACK;
using test::TftpTestPeer;

constexpr auto START = TransferEvent::start;
constexpr auto ACK = TransferEvent::acknowledged;
constexpr auto OVER = TransferEvent::interval_over;
constexpr auto SEND_OACK = TransferAction::send_oack;
constexpr auto SEND_BLOCK = TransferAction::send_block;
constexpr auto FINISH = TransferAction::finish;
constexpr auto OACK = TransferState::sending_oack;
constexpr auto BLOCK = TransferState::sending_block;
constexpr auto DONE = TransferState::done;
constexpr auto TIMED_OUT = TransferState::timed_out;

// One event and where it leaves the session. A start begins a new session, of the image size and the
// interval limit on its row.
struct Step {
  std::uint32_t image_size;
  unsigned max_intervals;
  TransferEvent event;
  TransferAction action;
  TransferState state;
  std::uint32_t next_block;
  std::int32_t block_len;
  std::int32_t acked_bytes;
  unsigned intervals;
};

TEST(StepTransfer, EachEventMovesTheSessionOn) {
  const Step steps[] = {
      // An empty image still takes one (empty) block.
      {0, 30, START, SEND_OACK, OACK, 0, 0, 0, 0},
      {0, 30, ACK, SEND_BLOCK, BLOCK, 1, 0, 0, 0},
      {0, 30, ACK, FINISH, DONE, 2, 0, 0, 0},
      // A whole number of blocks ends with an empty one.
      {512, 30, START, SEND_OACK, OACK, 0, 0, 0, 0},
      {512, 30, ACK, SEND_BLOCK, BLOCK, 1, 512, 0, 0},
      {512, 30, ACK, SEND_BLOCK, BLOCK, 2, 0, 512, 0},
      {512, 30, ACK, FINISH, DONE, 3, 0, 512, 0},
      {1300, 30, START, SEND_OACK, OACK, 0, 0, 0, 0},
      {1300, 30, ACK, SEND_BLOCK, BLOCK, 1, 512, 0, 0},
      {1300, 30, ACK, SEND_BLOCK, BLOCK, 2, 512, 512, 0},
      {1300, 30, ACK, SEND_BLOCK, BLOCK, 3, 276, 1024, 0},
      {1300, 30, ACK, FINISH, DONE, 4, 276, 1300, 0},
      // Each interval resends, the last gives up; an acknowledgement starts the count again.
      {100, 2, START, SEND_OACK, OACK, 0, 0, 0, 0},
      {100, 2, OVER, SEND_OACK, OACK, 0, 0, 0, 1},
      {100, 2, ACK, SEND_BLOCK, BLOCK, 1, 100, 0, 0},
      {100, 2, OVER, SEND_BLOCK, BLOCK, 1, 100, 0, 1},
      {100, 2, OVER, FINISH, TIMED_OUT, 1, 100, 0, 2},
  };
  TftpSession s;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(i);
    if (step.event == START)
      init_tftp_session(s, INVALID_SOCKET_HANDLE, LOOPBACK, LOOPBACK, 1, step.image_size, step.max_intervals);
    EXPECT_EQ(step_transfer(s, step.event), step.action);
    EXPECT_EQ(s.state, step.state);
    EXPECT_EQ(s.next_block, step.next_block);
    EXPECT_EQ(s.block_len, step.block_len);
    EXPECT_EQ(s.acked_bytes, step.acked_bytes);
    EXPECT_EQ(s.intervals, step.intervals);
  }
}

class Transfer : public test::TransferTest {};

TEST_F(Transfer, ServesEveryBlockAndEndsOnTheLastAcknowledgement) {
  start(test::pattern_bytes(1300, 3));
  auto oack = peer_.receive();
  ASSERT_TRUE(oack);
  EXPECT_EQ(oack->from_port, port_);
  using namespace std::string_literals;
  EXPECT_EQ(std::string(oack->bytes.begin(), oack->bytes.end()),
            "\0\6tsize\0"s + "1300\0timeout\0"s + "5\0"s);
  Bytes received;
  std::vector<std::size_t> payloads;
  ASSERT_TRUE(peer_.fetch_after_oack(received, &payloads));
  EXPECT_EQ(finish(), Outcome::none);
  EXPECT_EQ(received, image_);
  EXPECT_EQ(payloads, (std::vector<std::size_t>{512, 512, 276}));
  EXPECT_TRUE(peer_.drain(50ms).empty());
}

// How the client falls silent, and which packet the server must then keep resending.
struct Silence {
  const char* name;
  bool ack_option_ack;  // go as far as block 1 first
  bool send_error;      // answer with an ERROR packet instead of staying quiet
  int flood;  // datagrams that never carry the awaited acknowledgement: 0 none, 1 the device's stale
              // acknowledgements, 2 acknowledgements from another port
  unsigned resent_opcode;
};

class TransferSilence : public Transfer, public ::testing::WithParamInterface<Silence> {};

// Neither an ERROR packet nor a flood holds off the retransmissions and the time-out, or hastens them.
TEST_P(TransferSilence, ResendsOncePerIntervalAndGivesUpAfterTheLast) {
  const Silence& s = GetParam();
  timing_.polls_per_interval = 3;
  timing_.max_intervals = 5;
  start(test::pattern_bytes(900, 3));
  ASSERT_TRUE(peer_.receive());  // the OACK
  if (s.ack_option_ack) {
    peer_.send_ack(0);
    for (;;) {  // with short intervals the OACK may have been resent meanwhile
      auto d = peer_.receive();
      ASSERT_TRUE(d);
      if (d->opcode() == TFTP_OACK) continue;
      ASSERT_EQ(d->block(), 1u);
      break;
    }
  }
  if (s.send_error) peer_.send_error(0, "go away");
  TftpTestPeer stranger(LOOPBACK);
  stranger.aim(LOOPBACK, port_);
  if (s.flood) flood([&] { s.flood == 1 ? peer_.send_ack(0) : stranger.send_ack(1); });
  EXPECT_EQ(finish(), Outcome::upload_incomplete);
  auto resent = peer_.drain(100ms);
  ASSERT_EQ(resent.size(), timing_.max_intervals - 1);  // every interval but the last ends with a resend
  for (const auto& d : resent) {
    EXPECT_EQ(d.opcode(), s.resent_opcode);
    if (s.ack_option_ack) {
      EXPECT_EQ(d.block(), 1u);
      EXPECT_EQ(d.payload(), Bytes(image_.begin(), image_.begin() + 512));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferSilence,
                         ::testing::Values(Silence{"OptionAck", false, false, 0, TFTP_OACK},
                                           Silence{"Block1", true, false, 0, TFTP_DATA},
                                           Silence{"ErrorAtOptionAck", false, true, 0, TFTP_OACK},
                                           Silence{"ErrorAtBlock1", true, true, 0, TFTP_DATA},
                                           Silence{"StaleAcksFromTheDevice", true, false, 1, TFTP_DATA},
                                           Silence{"AcksFromAnotherPort", true, false, 2, TFTP_DATA}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Intruder {
  const char* name;
  std::uint32_t address;  // 0: the junk comes from the device's own port
  bool same_port;         // the intruder has the device's port number, at its own address
};

class TransferIntruder : public Transfer, public ::testing::WithParamInterface<Intruder> {};

// Before every acknowledgement the intruder throws its junk, which must go unanswered; each acknowledgement
// must still be answered with exactly the next block, and nobody else is answered at all.
TEST_P(TransferIntruder, DeviceStillGetsTheWholeImageAndNobodyElseAnything) {
  if (GetParam().address && GetParam().address != LOOPBACK && !test::loopback_sources_kept())
    GTEST_SKIP() << test::LOOPBACK_SOURCES_LOST;
  TftpTestPeer stranger(GetParam().address ? GetParam().address : LOOPBACK,
                        GetParam().same_port ? peer_.port() : 0);
  ASSERT_TRUE(stranger.ok());
  TftpTestPeer& intruder = GetParam().address ? stranger : peer_;
  const bool from_elsewhere = &intruder != &peer_;
  intruder.aim(LOOPBACK, port_);
  test::TraceRecorder traces;
  start(test::pattern_bytes(3000, 5));
  auto oack = peer_.receive();
  ASSERT_TRUE(oack && oack->opcode() == TFTP_OACK);

  Bytes received;
  std::size_t thrown = 0;
  for (unsigned block = 0;; ++block) {
    const std::vector<Bytes> burst = test::junk(block, from_elsewhere, true);
    test::throw_at(intruder, burst);
    thrown += burst.size();
    ASSERT_FALSE(peer_.receive(30ms));  // none of it counts as the acknowledgement
    peer_.send_ack(block);
    auto d = peer_.receive();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->opcode(), TFTP_DATA);
    ASSERT_EQ(d->block(), block + 1);
    Bytes payload = d->payload();
    received.insert(received.end(), payload.begin(), payload.end());
    if (payload.size() < TFTP_BLOCK_SIZE) {
      peer_.send_ack(block + 1);
      break;
    }
  }
  EXPECT_EQ(finish(), Outcome::none);
  EXPECT_EQ(received, image_);
  EXPECT_TRUE(peer_.drain(50ms).empty());
  if (from_elsewhere) {
    EXPECT_TRUE(stranger.drain(50ms).empty());
    // Each of them was read and put aside as a stranger's, acknowledgements of the awaited block too.
    std::size_t strangers = 0;
    for (const std::string& line : test::TraceRecorder::lines())
      strangers += line.rfind("Unknown source request in session: ", 0) == 0;
    EXPECT_EQ(strangers, thrown);
  }
}

INSTANTIATE_TEST_SUITE_P(From, TransferIntruder,
                         ::testing::Values(Intruder{"AnotherPortOfTheDevice", LOOPBACK, false},
                                           Intruder{"AnotherHostWithTheSamePort", 0x7F003202, true},
                                           Intruder{"TheDeviceItself", 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel on the upload window while the device has fallen silent and strangers flood its port.
TEST_F(Transfer, CancelEndsTheTransferEvenUnderAFlood) {
  start(test::pattern_bytes(3000, 5), true);
  ASSERT_TRUE(peer_.receive());
  peer_.send_ack(0);
  ASSERT_TRUE(peer_.receive());
  Window upload = fake_->wait_for(IDD_UPLOAD);
  TftpTestPeer stranger(0x7F003202);
  stranger.aim(LOOPBACK, port_);
  unsigned sent = 0;
  flood([&] {
    test::throw_at(stranger, test::junk(sent, true, true));
    if (++sent == 100) fake_->click(upload, IDCANCEL);  // in the middle of the flood
  });
  EXPECT_EQ(finish(), Outcome::user_abort);
  EXPECT_FALSE(fake_->snapshot(upload));  // the window's own Cancel destroyed it
  EXPECT_TRUE(fake_->message_boxes().empty());
}

}  // namespace
}  // namespace qor
