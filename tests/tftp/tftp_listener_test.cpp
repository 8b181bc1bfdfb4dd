// The listener: port choice, which datagrams it accepts, the waiting window, hostile peers, and a
// standard TFTP client fetching an image from it.
#include <gtest/gtest.h>

#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "net/bind_helper.h"
#include "tests/support/http_test_server.h"
#include "tests/tftp/tftp_fixture.h"
#include "tftp/tftp_listener.h"
#include "ui/texts.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::LOOPBACK;
using test::NAME;

struct PortCase {
  int held;  // ports taken from 69 on
  Outcome outcome;
};

class ListenerPort : public ::testing::TestWithParam<PortCase> {};

TEST_P(ListenerPort, TakesTheFirstPortFrom69ThatIsFreeUpTo168) {
  const PortCase& c = GetParam();
  const std::uint32_t address = 0x7F002101 + static_cast<std::uint32_t>(c.held);  // 127.0.33.x
  if (!test::low_ports_allowed()) GTEST_SKIP() << "low ports need privilege";
  std::vector<Socket> held;
  for (int i = 0; i < c.held + 1; ++i) {
    held.emplace_back(open_udp_socket());
    if (!bind_socket(held.back().get(), address, static_cast<std::uint16_t>(TFTP_FIRST_PORT + i))) {
      FAIL() << "port " << TFTP_FIRST_PORT + i << " is taken";
    }
  }
  held.pop_back();  // the one past those held was only a probe
  TftpListener listener{};
  ASSERT_EQ(open_tftp_listener(address, listener), c.outcome);
  if (c.outcome != Outcome::none) return;
  EXPECT_EQ(listener.port, TFTP_FIRST_PORT + c.held);
  EXPECT_EQ(listener.local_addr, address);
}

INSTANTIATE_TEST_SUITE_P(Taken, ListenerPort,
                         ::testing::Values(PortCase{0, Outcome::none}, PortCase{4, Outcome::none},
                                           PortCase{99, Outcome::none},
                                           PortCase{100, Outcome::listener_bind_failed}));

// Datagrams and what the listener makes of them: accepted or not, and the trace lines they leave.
struct Incoming {
  const char* name;
  Bytes bytes;
  bool accepted;
  std::vector<std::string> traces;
};

Bytes with_opcode(unsigned opcode) {
  Bytes b = test::rrq_bytes(NAME);
  b[1] = static_cast<unsigned char>(opcode);
  return b;
}

std::vector<std::string> name_traces(const std::string& requested) {
  return {std::string(NAME) + " " + requested + "\n", "+++ Bad TFTP RRQ filename " + requested + "\n"};
}

// Those not accepted are never answered.
std::vector<Incoming> incoming() {
  Bytes cut = test::rrq_bytes(NAME, std::string(1500, 'o'));
  cut.resize(TFTP_RX_BUFFER_SIZE);  // as a longer datagram is read: the name arrived whole
  const std::string long_name = NAME + std::string(TFTP_RX_BUFFER_SIZE - 2 - std::strlen(NAME), 'x');
  return {
      {"OurName", test::rrq_bytes(NAME), true, {std::string(NAME) + " " + NAME + "\n"}},
      {"OptionsCutOff", cut, true, {std::string(NAME) + " " + NAME + "\n"}},
      {"OtherCase", test::rrq_bytes("/QOR1A2B.bi1"), false, name_traces("/QOR1A2B.bi1")},
      {"ExtraCharacter", test::rrq_bytes("/qor1a2b.bi1x"), false, name_traces("/qor1a2b.bi1x")},
      {"Prefix", test::rrq_bytes("/qor1a2b.bi"), false, name_traces("/qor1a2b.bi")},
      {"Unterminated", test::unterminated_request(2 + std::strlen(NAME)), false, name_traces(NAME)},
      {"UnterminatedToTheBufferEnd", test::unterminated_request(TFTP_RX_BUFFER_SIZE), false,
       name_traces(long_name)},
      {"Write", with_opcode(2), false, {"TFTP Rx WRQ?\n"}},
      {"Data", with_opcode(3), false, {"TFTP Rx Data?\n"}},
      {"Ack", Bytes{0, 4, 0, 0}, false, {"TFTP Rx ACK?\n"}},
      {"Error", Bytes{0, 5, 0, 1, 'x', 0}, false, {"TFTP Rx Error?\n"}},
      {"OptionAck", with_opcode(6), false, {}},
      {"OpcodeZero", with_opcode(0), false, {}},
      {"OpcodeNine", with_opcode(9), false, {}},
      {"OneByte", Bytes{0}, false, {}},
      {"Empty", Bytes{}, false, {}},
  };
}

class ListenerDatagram : public ::testing::TestWithParam<Incoming> {};

TEST_P(ListenerDatagram, OnlyAReadRequestForTheAnnouncedNameIsAccepted) {
  const Incoming& d = GetParam();
  TftpFilename expected;
  expected.set(NAME);
  test::TraceRecorder traces;
  EXPECT_EQ(accept_listener_datagram(d.bytes.data(), d.bytes.size(), expected), d.accepted);
  EXPECT_EQ(test::TraceRecorder::lines(), d.traces);
}

INSTANTIATE_TEST_SUITE_P(Cases, ListenerDatagram, ::testing::ValuesIn(incoming()),
                         [](const auto& info) { return std::string(info.param.name); });

class Wait : public test::WaitTest {};

TEST_F(Wait, LeavesEverythingElseUnansweredAndReturnsTheRequester) {
  start();
  Window waiting = fake_->wait_for(IDD_WAITING);
  for (const Incoming& d : incoming()) {
    if (!d.accepted) peer_.send(d.bytes);
  }
  test::throw_at(peer_, {test::unterminated_request(1500), test::unterminated_request(test::HUGE_DATAGRAM),
                         Bytes(test::HUGE_DATAGRAM, 0), test::data_of(1500)});
  // Another host that knows the name (where loopback datagrams keep their source address).
  test::TftpTestPeer stranger(0x7F003304);
  if (test::loopback_sources_kept()) {
    stranger.aim(LOOPBACK, port_);
    stranger.send(test::rrq_bytes(NAME));
  }
  EXPECT_TRUE(peer_.drain(200ms).empty());
  EXPECT_TRUE(stranger.drain(1ms).empty());
  EXPECT_FALSE(worker_.done());
  EXPECT_TRUE(fake_->snapshot(waiting));

  Bytes request = test::rrq_bytes(NAME);
  request.resize(1500, 'o');  // options far past the receive buffer: the name still arrives whole
  peer_.send(request);
  EXPECT_EQ(finish(), Outcome::none);
  EXPECT_EQ(requester_.address, peer_.address());
  EXPECT_EQ(requester_.port, peer_.port());
  EXPECT_FALSE(fake_->snapshot(waiting));
  EXPECT_EQ(fake_->last_state(waiting).controls[waiting_ids::TEXT].text, texts::WAITING_HELP);
  EXPECT_TRUE(peer_.drain(50ms).empty());  // the answer is the transfer's
}

// The bar steps once per empty poll; Cancel ends the wait, also in the middle of a flood.
TEST_F(Wait, BarStepsOncePerEmptyPollAndCancelAbortsEvenUnderAFlood) {
  start();
  Window w = fake_->wait_for(IDD_WAITING);
  auto until = std::chrono::steady_clock::now() + 60s;
  while (fake_->progress_positions(w).size() < 1003 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(20ms);
  test::TftpTestPeer stranger(0x7F003303);
  stranger.aim(LOOPBACK, port_);
  unsigned sent = 0;
  flood([&] {
    test::throw_at(stranger, test::junk(sent, true, false));
    if (++sent == 100) fake_->click(w, IDCANCEL);
  });
  EXPECT_EQ(finish(), Outcome::user_abort);
  EXPECT_TRUE(stranger.drain(50ms).empty());
  EXPECT_FALSE(fake_->snapshot(w));
  EXPECT_TRUE(fake_->message_boxes().empty());  // the abort is reported by the caller
  std::vector<int> positions = fake_->progress_positions(w);
  ASSERT_GE(positions.size(), 1003u);
  for (int k = 0; k < 1003; ++k)
    ASSERT_EQ(positions[k], k % 1000) << k;
  EXPECT_EQ(fake_->last_state(w).controls[waiting_ids::BAR].range_high, 1000);
}

// The serving thread must not outlive a run that another thread has ended.
TEST_F(Wait, EndsWhenAnotherThreadEndsTheRun) {
  start();
  fake_->wait_for(IDD_WAITING);
  EXPECT_THROW(end_process(0), ProcessExit);
  EXPECT_TRUE(test::eventually([this] { return worker_.done(); }));
  EXPECT_TRUE(worker_.ended());
}

// A standard TFTP client, which asks for options of its own, gets the image byte for byte.
class StandardClient : public test::WaitTest {
 protected:
  void fetch_the_image();
};

TEST_F(StandardClient, FetchesTheImage) {
  fetch_the_image();
}

#ifndef _WIN32
// The same from the socket the bind helper hands over, when it has the privilege to bind one.
TEST_F(StandardClient, FetchesTheImageFromTheSocketOfTheBindHelper) {
  static_assert(BIND_HELPER_FIRST_PORT == TFTP_FIRST_PORT &&
                BIND_HELPER_LAST_PORT == TFTP_FIRST_PORT + TFTP_PORT_ATTEMPTS - 1);
  char helper[PATH_MAX], request[BIND_REQUEST_SIZE];
  ASSERT_TRUE(bind_helper_path(helper, sizeof helper));
  SocketHandle handed = INVALID_SOCKET_HANDLE;
  int result = EADDRINUSE;
  for (port_ = BIND_HELPER_FIRST_PORT; result == EADDRINUSE && port_ <= BIND_HELPER_LAST_PORT; ++port_) {
    format_bind_request(request, sizeof request, {LOOPBACK, port_});
    if ((result = ask_bind_helper(helper, request, handed)) == 0) break;
  }
  if (result == EACCES) GTEST_SKIP() << helper << " has not the privilege to bind port " << port_;
  ASSERT_EQ(result, 0);
  listener_.sock = Socket(handed);
  ASSERT_EQ(local_port(handed), port_);
  fetch_the_image();
}
#endif

void StandardClient::fetch_the_image() {
  if (std::system("command -v curl >/dev/null 2>&1") != 0) GTEST_SKIP() << "curl is not installed";
  const Bytes image = test::pattern_bytes(100000 + 300, 9);
  worker_.start([this, image] {
    if (Outcome waited = wait_for_read_request(listener_, filename_, LOOPBACK, false, timing_, requester_);
        waited != Outcome::none)
      return waited;
    TftpSession session;
    init_tftp_session(session, listener_.sock.get(), LOOPBACK, requester_.address, requester_.port,
                      static_cast<std::uint32_t>(image.size()));
    return run_transfer(session, image.data(), {Window::none, nullptr, "Target", "127.0.0.1"}, timing_);
  });
  const std::string out = ::testing::TempDir() + "tftp_curl_" + std::to_string(port_) + ".bin";
  const std::string command = "curl -sS --max-time 30 --tftp-blksize 512 -o '" + out +
                              "' tftp://127.0.0.1:" + std::to_string(port_) + "/" + NAME;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(finish(), Outcome::none);
  std::ifstream file(out, std::ios::binary);
  Bytes received((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(out.c_str());
  EXPECT_EQ(received, image);
}

}  // namespace
}  // namespace qor
