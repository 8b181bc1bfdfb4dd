// The bind helper refuses, before it creates any socket, every request but a UDP port from 69 to 168 on
// an address of this machine, and says why. Run as the built program, with or without the privilege.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "net/bind_helper.h"

namespace qor {
namespace {

struct Refusal {
  const char* name;
  std::string request;
  const char* reason;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.name;
}

constexpr const char* FORM = "the request is not \"udp <IPv4 address> <port>\"";

class BindHelperRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BindHelperRefusal, SaysWhyOnStandardErrorAndHandsNothingBack) {
  char helper[PATH_MAX];
  ASSERT_TRUE(bind_helper_path(helper, sizeof helper));
  int error[2];
  ASSERT_EQ(::pipe(error), 0);
  SocketHandle handed = 0;
  EXPECT_EQ(ask_bind_helper(helper, GetParam().request.c_str(), handed, error[1]), -1);
  EXPECT_EQ(handed, INVALID_SOCKET_HANDLE);
  ::close(error[1]);
  char said[256] = {};
  ASSERT_GT(::read(error[0], said, sizeof said - 1), 0);
  ::close(error[0]);
  EXPECT_EQ(std::string(said), std::string("qor-bind-helper: refused: ") + GetParam().reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BindHelperRefusal,
    ::testing::Values(
        Refusal{"PortBelow", "udp 127.0.0.1 68", "port 68 is outside 69..168"},
        Refusal{"PortAbove", "udp 127.0.0.1 169", "port 169 is outside 69..168"},
        Refusal{"PortOfAnotherService", "udp 127.0.0.1 7", "port 7 is outside 69..168"},
        // A documentation address: never on a machine, and nothing is sent to it.
        Refusal{"NotThisMachine", "udp 192.0.2.1 69", "192.0.2.1 is not an address of this machine"},
        Refusal{"Tcp", "tcp 127.0.0.1 69", "only UDP ports are bound, not TCP"}, Refusal{"Empty", "", FORM},
        Refusal{"NoPort", "udp 127.0.0.1", FORM}, Refusal{"ZeroLedPort", "udp 127.0.0.1 069", FORM},
        Refusal{"SignedPort", "udp 127.0.0.1 +69", FORM}, Refusal{"HugePort", "udp 127.0.0.1 65605", FORM},
        Refusal{"ShortAddress", "udp 127.1 69", FORM}, Refusal{"TwoSpaces", "udp  127.0.0.1 69", FORM},
        Refusal{"MoreWords", "udp 127.0.0.1 69 tcp", FORM},
        Refusal{"TooLong", "udp 127.0.0.1 69" + std::string(40, ' '), FORM},
        Refusal{"OtherProtocol", "raw 127.0.0.1 69", FORM}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
#endif
