// The listener: port choice, which datagrams it answers, the two stages, the waiting window, and a
// real TFTP client fetching the image.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/process.h"
#include "tests/tftp/session_fixture.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_templates.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TftpTestPeer;
using test::TraceRecorder;

class Listener : public test::TftpStateTest {
 protected:
  void SetUp() override {
    TftpStateTest::SetUp();
    Socket probe(open_udp_socket());
    if (!bind_socket(probe.get(), 0x7F002801, 69) && errno == EACCES)
      GTEST_SKIP() << "low ports need privilege";
  }

  void TearDown() override {
    if (started_) cancel_until_ended();
    set_tftp_filename("");
    TftpStateTest::TearDown();
  }

  std::uint16_t start(std::uint32_t address) {
    started_ = true;
    return start_tftp_listener(address);
  }

  // Holds `count` ports from 69 on `address`; false when they cannot be had (no privilege).
  bool hold_ports(std::uint32_t address, int count) {
    for (int i = 0; i < count; ++i) {
      Socket s(open_udp_socket());
      if (!bind_socket(s.get(), address, static_cast<std::uint16_t>(69 + i))) return false;
      held_.push_back(std::move(s));
    }
    return true;
  }

  bool may_bind_69(std::uint32_t address) {
    Socket probe(open_udp_socket());
    return bind_socket(probe.get(), address, 69);
  }

  bool started_ = false;
  std::vector<Socket> held_;
};

class ListenerPort : public Listener, public ::testing::WithParamInterface<int> {};

TEST_P(ListenerPort, TakesTheFirstPortFrom69ThatIsFree) {
  const std::uint32_t address = 0x7F002101 + static_cast<std::uint32_t>(GetParam());  // 127.0.33.x
  if (!may_bind_69(address) || !hold_ports(address, GetParam())) GTEST_SKIP() << "low ports need privilege";
  EXPECT_EQ(start(address), 69 + GetParam());
}

INSTANTIATE_TEST_SUITE_P(Taken, ListenerPort, ::testing::Values(0, 4, 99));

TEST_F(Listener, GivesUpWhenNoPortUpTo168IsFree) {
  const std::uint32_t address = 0x7F002180;
  if (!hold_ports(address, 100)) GTEST_SKIP() << "low ports need privilege";
  EXPECT_THROW(start_tftp_listener(address), ProcessExit);
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: Can't bind TFTP listener socket"});
  EXPECT_FALSE(shown(IDD_WAITING));
}

// Datagrams the listener must leave unanswered, with the trace line each one leaves (or none).
struct Stray {
  const char* name;
  Bytes bytes;
  const char* trace;
};

const char* const NAME = "/qor1a2b.bi1";

Bytes with_opcode(unsigned opcode) {
  Bytes b = test::rrq_bytes(NAME);
  b[1] = static_cast<unsigned char>(opcode);
  return b;
}

std::vector<Stray> stray_datagrams() {
  Bytes unterminated = test::rrq_bytes(NAME);
  unterminated.resize(2 + std::strlen(NAME));
  return {
      {"OtherCase", test::rrq_bytes("/QOR1A2B.bi1"), "+++ Bad TFTP RRQ filename /QOR1A2B.bi1\n"},
      {"ExtraCharacter", test::rrq_bytes("/qor1a2b.bi1x"), "+++ Bad TFTP RRQ filename /qor1a2b.bi1x\n"},
      {"Prefix", test::rrq_bytes("/qor1a2b.bi"), "+++ Bad TFTP RRQ filename /qor1a2b.bi\n"},
      {"Unterminated", unterminated, "+++ Bad TFTP RRQ filename /qor1a2b.bi1\n"},
      {"Write", with_opcode(2), "TFTP Rx WRQ?\n"},
      {"Data", with_opcode(3), "TFTP Rx Data?\n"},
      {"Ack", Bytes{0, 4, 0, 0}, "TFTP Rx ACK?\n"},
      {"Error", Bytes{0, 5, 0, 1, 'x', 0}, "TFTP Rx Error?\n"},
      {"OptionAck", with_opcode(6), nullptr},
      {"OpcodeZero", with_opcode(0), nullptr},
      {"OpcodeNine", with_opcode(9), nullptr},
      {"OneByte", Bytes{0}, nullptr},
      {"Empty", Bytes{}, nullptr},
  };
}

TEST_F(Listener, AnswersOnlyAReadRequestForTheAnnouncedName) {
  const std::uint32_t address = 0x7F002201;  // 127.0.34.1
  TraceRecorder traces;
  set_tftp_filename(NAME);
  std::uint16_t port = start(address);
  Window waiting = fake_->wait_for(IDD_WAITING);
  TftpTestPeer peer(0x7F002202);
  peer.aim(address, port);

  std::vector<std::string> expected_traces;
  for (const Stray& s : stray_datagrams()) {
    peer.send(s.bytes);
    if (s.trace) expected_traces.emplace_back(s.trace);
  }
  EXPECT_TRUE(peer.drain(200ms).empty());
  std::vector<std::string> seen;
  for (const std::string& line : TraceRecorder::get()) {
    if (line.rfind("+++", 0) == 0 || line.rfind("TFTP Rx", 0) == 0) seen.push_back(line);
  }
  EXPECT_EQ(seen, expected_traces);
  EXPECT_TRUE(TraceRecorder::contains("/qor1a2b.bi1 /QOR1A2B.bi1\n"));

  peer.send_rrq(NAME);
  auto oack = peer.receive();
  ASSERT_TRUE(oack);
  EXPECT_EQ(oack->opcode(), TFTP_OACK);
  EXPECT_EQ(oack->from_port, port);  // the transfer runs on the listener's own port
  Bytes received;
  ASSERT_TRUE(peer.fetch_after_oack(received));
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(received, target_bytes_);
  EXPECT_LT(event_index("destroy 114"), event_index("create 110"));

  const std::string text = fake_->last_state(waiting).controls[IDC_WAITING_TEXT].text;
  EXPECT_EQ(text.rfind("Firmware upload will begin when the QOR is idle, where", 0), 0u);
  EXPECT_NE(text.find("port number 69.\r\n\r\nIf firmware download does not start"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 32), "while the QOR is in front of it.");
}

TEST_F(Listener, ServesTheTransitionImageThenTheTargetOnTheSamePort) {
  const std::uint32_t address = 0x7F002301;  // 127.0.35.1
  upgrade_stage.store(0);
  set_tftp_filename("/qor11.bi0");
  std::uint16_t port = start(address);
  TftpTestPeer peer(0x7F002302);
  peer.aim(address, port);

  peer.send_rrq("/qor11.bi0");
  Bytes first;
  auto oack = peer.receive();
  ASSERT_TRUE(oack && oack->opcode() == TFTP_OACK);
  ASSERT_TRUE(peer.fetch_after_oack(first));
  EXPECT_EQ(first, transition_bytes_);

  Window second = fake_->wait_for(IDD_WAITING, 1);
  ASSERT_NE(second, Window::none);
  EXPECT_EQ(upgrade_stage.load(), 1);
  EXPECT_FALSE(trap_.ended());
  // The bar is set up just after the window appears.
  for (int i = 0; i < 1000 && fake_->progress_positions(second).empty(); ++i)
    std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(fake_->progress_positions(second).empty());
  EXPECT_EQ(fake_->progress_positions(second).front(), 0);
  EXPECT_EQ(fake_->last_state(second).controls[IDC_WAITING_TEXT].text, "");

  set_tftp_filename("/qor22.bi1");
  peer.send_rrq("/qor11.bi0");
  EXPECT_TRUE(peer.drain(150ms).empty());
  peer.send_rrq("/qor22.bi1");
  Bytes second_image;
  oack = peer.receive();
  ASSERT_TRUE(oack && oack->opcode() == TFTP_OACK);
  EXPECT_EQ(oack->from_port, port);
  ASSERT_TRUE(peer.fetch_after_oack(second_image));
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(second_image, target_bytes_);
}

TEST_F(Listener, WaitingBarStepsOncePerEmptyPollAndCancelAborts) {
  set_tftp_filename(NAME);
  start(0x7F002401);
  Window w = fake_->wait_for(IDD_WAITING);
  auto until = std::chrono::steady_clock::now() + 60s;
  while (fake_->progress_positions(w).size() < 1003 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
  fake_->click(w, IDCANCEL);
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(trap_.code(), 0);
  std::vector<int> positions = fake_->progress_positions(w);
  ASSERT_GE(positions.size(), 1003u);
  for (int k = 0; k < 1003; ++k)
    ASSERT_EQ(positions[k], k % 1000) << k;
  EXPECT_EQ(fake_->last_state(w).controls[IDC_PROGRESS].range_high, 1000);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: User Abort"});
  EXPECT_LT(event_index("destroy 114"), event_index("box Upgrade Failed: User Abort"));
}

// A standard TFTP client, which asks for options of its own, gets the image byte for byte.
TEST_F(Listener, StandardClientFetchesTheImage) {
  if (std::system("command -v curl >/dev/null 2>&1") != 0) GTEST_SKIP() << "curl is not installed";
  target_bytes_ = test::pattern_bytes(100000 + 300, 9);
  test::make_image(target_image, target_bytes_, "3.2.1");
  const std::uint32_t address = 0x7F002501;  // 127.0.37.1
  set_tftp_filename("/qorc0ffee.bi1");
  std::uint16_t port = start(address);
  const std::string out = ::testing::TempDir() + "tftp_curl_" + std::to_string(port) + ".bin";
  const std::string command = "curl -sS --max-time 30 --tftp-blksize 512 --interface 127.0.37.2 -o '" + out +
                              "' tftp://127.0.37.1:" + std::to_string(port) + "//qorc0ffee.bi1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_TRUE(trap_.wait());
  std::ifstream file(out, std::ios::binary);
  Bytes received((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(out.c_str());
  EXPECT_EQ(received, target_bytes_);
}

}  // namespace
}  // namespace qor
