// The lock-step transfer against a test client on loopback: block layout, which acknowledgements
// count, retransmission and time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/timing.h"
#include "tests/support/fake_toolkit.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_session.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TftpTestPeer;

constexpr std::uint32_t LOOPBACK = 0x7F000001;

Bytes pattern(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<unsigned char>(i * 7 + i / 512 + 3);
  return b;
}

class Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_timing_ = timing;
    // Long intervals: in most tests a retransmission can only come from a fault.
    timing.polls_per_interval = 2000;
    server_ = Socket(open_udp_socket());
    ASSERT_TRUE(server_.valid());
    ASSERT_TRUE(bind_socket(server_.get(), LOOPBACK, 0));
    server_port_ = local_port(server_.get());
    ASSERT_TRUE(peer_.ok());
    peer_.aim(LOOPBACK, server_port_);
  }

  void TearDown() override {
    if (worker_.joinable()) worker_.join();
    timing = saved_timing_;
  }

  void start(Bytes image) {
    image_ = std::move(image);
    worker_ = std::thread([this] {
      init_tftp_session(session_, server_.get(), LOOPBACK, peer_.address(), peer_.port(),
                        static_cast<std::uint32_t>(image_.size()));
      outcome_ = run_transfer(session_, image_.data(), Window::none, "Target");
      done_ = true;
    });
  }

  TransferOutcome finish() {
    worker_.join();
    return outcome_;
  }

  // The OACK that opens every transfer.
  void expect_oack() {
    auto d = peer_.receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->opcode(), TFTP_OACK);
    EXPECT_EQ(d->from_port, server_port_);
  }

  // The first block once the OACK has been acknowledged; with short intervals the OACK may have been
  // resent meanwhile, and those copies come first.
  void await_first_block() {
    for (;;) {
      auto d = peer_.receive();
      ASSERT_TRUE(d);
      if (d->opcode() == TFTP_OACK) continue;
      EXPECT_EQ(d->opcode(), TFTP_DATA);
      EXPECT_EQ(d->block(), 1u);
      return;
    }
  }

  void expect_block(unsigned block) {
    auto d = peer_.receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->opcode(), TFTP_DATA);
    EXPECT_EQ(d->block(), block);
  }

  test::ScopedFakeToolkit fake_;  // calls on Window::none do nothing
  Timing saved_timing_;
  Socket server_;
  std::uint16_t server_port_ = 0;
  TftpTestPeer peer_;
  Bytes image_;
  TftpSession session_{};
  std::thread worker_;
  TransferOutcome outcome_ = TransferOutcome::timeout;
  std::atomic<bool> done_{false};
};

struct BlockLayout {
  std::size_t size;
  std::vector<std::size_t> payloads;
};

class TransferLayout : public Transfer, public ::testing::WithParamInterface<BlockLayout> {};

TEST_P(TransferLayout, ServesEveryBlockAndEndsOnTheLastAcknowledgement) {
  const BlockLayout& layout = GetParam();
  start(pattern(layout.size));
  auto oack = peer_.receive();
  ASSERT_TRUE(oack);
  using namespace std::string_literals;
  const std::string expected = "\0\6tsize\0"s + std::to_string(layout.size) +
                               "\0timeout\0"
                               "5\0"s;
  EXPECT_EQ(std::string(oack->bytes.begin(), oack->bytes.end()), expected);

  Bytes received;
  std::vector<std::size_t> payloads;
  ASSERT_TRUE(peer_.fetch_after_oack(received, &payloads));
  EXPECT_EQ(finish(), TransferOutcome::complete);
  EXPECT_EQ(received, image_);
  EXPECT_EQ(payloads, layout.payloads);
  EXPECT_EQ(session_.block_count, layout.payloads.size());
  EXPECT_EQ(session_.acked_bytes, static_cast<std::int32_t>(layout.size));
  EXPECT_TRUE(peer_.drain(50ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferLayout,
                         ::testing::Values(BlockLayout{0, {0}}, BlockLayout{100, {100}},
                                           BlockLayout{512, {512, 0}}, BlockLayout{1024, {512, 512, 0}},
                                           BlockLayout{1300, {512, 512, 276}}));

TEST_F(Transfer, AcknowledgementOfBlockOneBeforeTheOptionAckIsDropped) {
  start(pattern(1024));
  expect_oack();
  peer_.send_ack(1);
  EXPECT_FALSE(peer_.receive(150ms));
  Bytes received;
  ASSERT_TRUE(peer_.fetch_after_oack(received));
  EXPECT_EQ(finish(), TransferOutcome::complete);
  EXPECT_EQ(received, image_);
}

TEST_F(Transfer, DuplicateAcknowledgementsCauseNoResend) {
  start(pattern(1024));
  expect_oack();
  peer_.send_ack(0);
  expect_block(1);
  for (int i = 0; i < 20; ++i)
    peer_.send_ack(0);
  peer_.send_ack(1);
  expect_block(2);  // a resent block 1 would come first
  peer_.send_ack(2);
  expect_block(3);
  peer_.send_ack(3);
  EXPECT_EQ(finish(), TransferOutcome::complete);
  EXPECT_TRUE(peer_.drain(50ms).empty());
}

TEST_F(Transfer, AcknowledgementsFromAnotherPortAreIgnored) {
  TftpTestPeer intruder(LOOPBACK);
  intruder.aim(LOOPBACK, server_port_);
  start(pattern(700));
  expect_oack();
  intruder.send_ack(0);
  EXPECT_FALSE(peer_.receive(150ms));
  EXPECT_FALSE(intruder.receive(10ms));
  Bytes received;
  ASSERT_TRUE(peer_.fetch_after_oack(received));
  EXPECT_EQ(finish(), TransferOutcome::complete);
  EXPECT_EQ(received, image_);
}

TEST_F(Transfer, TruncatedAcknowledgementDoesNotCount) {
  start(pattern(1024));
  expect_oack();
  peer_.send_ack(0);
  expect_block(1);
  peer_.send(Bytes{0, 4});  // the block number is missing
  peer_.send(Bytes{0, 4, 0});
  EXPECT_FALSE(peer_.receive(150ms));
  peer_.send_ack(1);
  expect_block(2);
  peer_.send_ack(2);
  expect_block(3);
  peer_.send_ack(3);
  EXPECT_EQ(finish(), TransferOutcome::complete);
}

// How the client falls silent, and which packet the server must then keep resending.
struct Silence {
  const char* name;
  bool ack_option_ack;  // go as far as block 1 first
  bool send_error;      // answer with an ERROR packet instead of staying quiet
  unsigned resent_opcode;
};

class TransferSilence : public Transfer, public ::testing::WithParamInterface<Silence> {};

TEST_P(TransferSilence, ResendsOncePerIntervalAndGivesUpAfterTheLast) {
  const Silence& s = GetParam();
  timing.polls_per_interval = 3;
  timing.max_intervals = 5;
  start(pattern(900));
  expect_oack();
  if (s.ack_option_ack) {
    peer_.send_ack(0);
    await_first_block();
  }
  if (s.send_error) peer_.send_error(0, "go away");
  EXPECT_EQ(finish(), TransferOutcome::timeout);
  auto resent = peer_.drain(100ms);
  ASSERT_EQ(resent.size(), timing.max_intervals - 1);  // every interval but the last ends with a resend
  for (const auto& d : resent) {
    EXPECT_EQ(d.opcode(), s.resent_opcode);
    if (s.ack_option_ack) {
      EXPECT_EQ(d.block(), 1u);
      EXPECT_EQ(d.payload(), Bytes(image_.begin(), image_.begin() + 512));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferSilence,
                         ::testing::Values(Silence{"OptionAck", false, false, TFTP_OACK},
                                           Silence{"Block1", true, false, TFTP_DATA},
                                           Silence{"ErrorAtOptionAck", false, true, TFTP_OACK},
                                           Silence{"ErrorAtBlock1", true, true, TFTP_DATA}),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream of datagrams that never carries the awaited acknowledgement must not hold off the time-out.
class TransferFlood : public Transfer, public ::testing::WithParamInterface<bool> {};

TEST_P(TransferFlood, StillTimesOut) {
  const bool from_device = GetParam();
  timing.polls_per_interval = 3;
  timing.max_intervals = 4;
  TftpTestPeer stranger(LOOPBACK);
  stranger.aim(LOOPBACK, server_port_);
  start(pattern(2000));
  expect_oack();
  peer_.send_ack(0);
  await_first_block();
  auto until = std::chrono::steady_clock::now() + 20s;
  while (!done_ && std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 50; ++i)
      from_device ? peer_.send_ack(0) : stranger.send_ack(1);
    std::this_thread::yield();
  }
  EXPECT_TRUE(done_);
  EXPECT_EQ(finish(), TransferOutcome::timeout);
}

INSTANTIATE_TEST_SUITE_P(Sources, TransferFlood, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "StaleAcksFromDevice" : "OtherPort"; });

}  // namespace
}  // namespace qor
