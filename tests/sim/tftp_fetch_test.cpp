// The device's TFTP client against a small lock-step server on loopback that behaves like the
// program's: an OACK with tsize and timeout, 512-byte blocks, a resend after 100 ms of silence.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "sim/tftp_fetch.h"

namespace qor::sim {
namespace {

constexpr std::uint32_t SERVER = 0x7f000001;
constexpr std::uint32_t DEVICE = 0x7f000002;
constexpr const char* NAME = "/qor1a2b.bi1";

struct Served {
  std::string requested;
  int acks_from_other_ports = 0;
};

std::vector<std::uint8_t> packet_for(const std::vector<std::uint8_t>& image, std::uint32_t block,
                                     std::uint64_t announced) {
  std::vector<std::uint8_t> p{0, 0};
  if (block == 0) {
    p[1] = 6;
    std::string options =
        std::string("tsize") + '\0' + std::to_string(announced) + '\0' + "timeout" + '\0' + "5";
    p.insert(p.end(), options.begin(), options.end());
    p.push_back(0);
    return p;
  }
  p[1] = 3;
  p.push_back(static_cast<std::uint8_t>(block >> 8));
  p.push_back(static_cast<std::uint8_t>(block));
  std::size_t from = (block - 1) * 512u;
  std::size_t to = std::min(image.size(), from + 512);
  p.insert(p.end(), image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(to));
  return p;
}

// Serves one read request for NAME (others go unanswered); gives up after 2 s without a matching ACK.
void serve(SocketHandle sock, const std::vector<std::uint8_t>& image, std::uint64_t announced,
           Served& served) {
  std::uint8_t buf[1024];
  std::uint32_t peer = 0, from;
  std::uint16_t peer_port = 0, port;
  while (peer_port == 0 && wait_readable(sock, 3000)) {
    long n = receive_datagram(sock, buf, sizeof buf, from, port);
    if (n > 2 && buf[1] == 1) {
      buf[n - 1] = 0;
      served.requested = reinterpret_cast<const char*>(buf + 2);
      if (served.requested != NAME) continue;
      peer = from;
      peer_port = port;
    }
  }
  const Endpoint to{peer, peer_port};
  std::uint32_t next = 0, blocks = static_cast<std::uint32_t>(image.size() / 512 + 1);
  for (int idle = 0; peer_port != 0 && next <= blocks && idle < 20;) {
    auto p = packet_for(image, next, announced);
    send_datagram(sock, p.data(), p.size(), to);
    bool matched = false;
    while (!matched && wait_readable(sock, 100)) {
      long n = receive_datagram(sock, buf, sizeof buf, from, port);
      if (port != peer_port) ++served.acks_from_other_ports;
      matched =
          n >= 4 && port == peer_port && buf[1] == 4 && ((buf[2] << 8) | buf[3]) == static_cast<int>(next);
    }
    idle = matched ? 0 : idle + 1;
    if (matched) ++next;
  }
}

std::vector<std::uint8_t> sample_image(std::size_t size, const char* version) {
  std::vector<std::uint8_t> image(size, 0x5a);
  std::memset(image.data(), 0, 128);
  std::memcpy(image.data(), "QoR4710fFiRmWaRe", 16);
  std::memcpy(image.data() + 92, version, std::strlen(version));
  return image;
}

struct FetchRun {
  FetchResult result;
  Served served;
};

FetchRun fetch(SimConfig config, const std::vector<std::uint8_t>& image, std::uint64_t announced) {
  Socket sock(open_udp_socket());
  EXPECT_TRUE(bind_socket(sock.get(), SERVER, 0));
  FetchRun run;
  std::thread server(serve, sock.get(), std::cref(image), announced, std::ref(run.served));
  config.address = DEVICE;
  config.tftp_timeout = 1;
  UpgradeTarget target{SERVER, local_port(sock.get()), NAME};
  run.result = run_tftp_fetch(config, target);
  server.join();
  return run;
}

TEST(TftpFetch, WholeImagesArriveThroughTheFaultsTheServerRecoversFromAndNothingElse) {
  struct Case {
    const char* name;
    std::size_t size;
    void (*adjust)(SimConfig&);
    std::uint64_t announced;  // 0: the image's size
    bool complete, valid;
    std::uint32_t bytes;  // 0: all of them
  } cases[] = {
      {"plain, size a multiple of 512", 1024, [](SimConfig&) {}, 0, true, true, 0},
      {"short last block", 1300, [](SimConfig&) {}, 0, true, true, 0},
      {"duplicate ACKs", 1300, [](SimConfig& c) { c.duplicate_acks = true; }, 0, true, true, 0},
      {"every third packet dropped", 3000, [](SimConfig& c) { c.drop_every = 3; }, 0, true, true, 0},
      {"wrong name asked first", 600, [](SimConfig& c) { c.wrong_name_first = true; }, 0, true, true, 0},
      {"ACKs also from a second port", 1300, [](SimConfig& c) { c.second_port_acks = SecondPortAcks::ALSO; },
       0, true, true, 0},
      {"size other than announced", 1300, [](SimConfig&) {}, 1301, true, false, 0},
      {"ERROR instead of an ACK", 1300, [](SimConfig& c) { c.send_error_at = 1; }, 0, false, false, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    c.adjust(config);
    auto image = sample_image(c.size, "3.2.1");
    FetchRun run = fetch(config, image, c.announced ? c.announced : image.size());
    EXPECT_EQ(run.result.complete, c.complete) << run.result.failure;
    EXPECT_EQ(run.result.image.valid, c.valid) << run.result.image.reason;
    EXPECT_EQ(run.result.bytes, c.bytes ? c.bytes : c.size);
    EXPECT_EQ(run.served.requested, "/qor1a2b.bi1");
    if (c.valid) {
      EXPECT_EQ(run.result.image.version, "3.2.1");
    }
    if (!c.complete) {
      EXPECT_NE(run.result.failure.find("ERROR"), std::string::npos);
    }
    EXPECT_EQ(run.served.acks_from_other_ports >= 3, config.second_port_acks == SecondPortAcks::ALSO);
  }
}

TEST(TftpPackets, ReadRequestAndOptionAck) {
  auto rrq = make_read_request("/qor1.bi1", {{"tsize", "0"}});
  const char expected[] =
      "\0\1/qor1.bi1\0octet\0tsize\0"
      "0";
  ASSERT_EQ(rrq.size(), sizeof expected);
  EXPECT_EQ(std::memcmp(rrq.data(), expected, sizeof expected), 0);

  const std::uint8_t oack[] = {0, 6,   't', 's', 'i', 'z', 'e', 0,   '1', '0', '2', '4',
                               0, 't', 'i', 'm', 'e', 'o', 'u', 't', 0,   '5', 0};
  std::vector<std::pair<std::string, std::string>> options;
  ASSERT_TRUE(parse_option_ack(oack, sizeof oack, options));
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0], (std::pair<std::string, std::string>{"tsize", "1024"}));
  EXPECT_EQ(options[1], (std::pair<std::string, std::string>{"timeout", "5"}));
  options.clear();
  EXPECT_FALSE(parse_option_ack(oack, sizeof oack - 1, options));
  EXPECT_FALSE(parse_option_ack(oack, sizeof oack - 2, options));

  EXPECT_EQ(wrong_name("/qor1a2b.bi1"), "/QOR1A2B.BI1");
  EXPECT_EQ(wrong_name("/123.4"), "/123.4x");
}

}  // namespace
}  // namespace qor::sim
