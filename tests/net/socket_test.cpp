#include <gtest/gtest.h>

#include "net/clock.h"
#include "net/socket.h"

namespace qor {
namespace {

TEST(Datagrams, NonBlockingReceiveReportsNothingAndTheSource) {
  Socket a(open_udp_socket()), b(open_udp_socket());
  ASSERT_TRUE(a.valid() && b.valid());
  ASSERT_TRUE(bind_socket(a.get(), 0x7F000001, 0));
  ASSERT_TRUE(bind_socket(b.get(), 0x7F000001, 0));
  ASSERT_TRUE(set_nonblocking(a.get()));
  char buffer[8];
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  EXPECT_EQ(receive_datagram(a.get(), buffer, sizeof buffer, from, port), -1);
  EXPECT_FALSE(wait_readable(a.get(), 1));
  ASSERT_EQ(send_datagram(b.get(), "0123456789", 10, {0x7F000001, local_port(a.get())}), 10);
  EXPECT_TRUE(wait_readable(a.get(), 1000));
  // A datagram longer than the buffer is cut to the buffer, never written past it.
  EXPECT_EQ(receive_datagram(a.get(), buffer, sizeof buffer, from, port), 8);
  EXPECT_EQ(from, 0x7F000001u);
  EXPECT_EQ(port, local_port(b.get()));
}

TEST(LocalAddresses, LoopbackOnlyWhenAskedAndNeverMoreThanTheCapacity) {
  std::uint32_t addresses[8] = {};
  int n = enumerate_local_addresses(addresses, 8, true);
  ASSERT_GE(n, 1);
  for (int i = 0; i < n; ++i)
    EXPECT_EQ(addresses[i] >> 24, 127u);
#ifndef _WIN32  // Windows takes what the lookup of the host's name gives, 127.0.0.1 when nothing else
  std::uint32_t lan[8] = {};
  int m = enumerate_local_addresses(lan, 8, false);
  for (int i = 0; i < m; ++i)
    EXPECT_NE(lan[i] >> 24, 127u);
#endif
  std::uint32_t one[1] = {};
  EXPECT_LE(enumerate_local_addresses(one, 1, true), 1);
}

TEST(Clock, WrapsLikeA32BitMillisecondCounter) {
  set_clock_offset(0);
  std::uint32_t now = time_get_time();
  set_clock_offset(0xFFFFFFFFu - now - 5);  // 5 ms before the wrap
  std::uint32_t before = time_get_time();
  sleep_ms(20);
  std::uint32_t after = time_get_time();
  set_clock_offset(0);
  EXPECT_GT(before, 0xFFFF0000u);
  EXPECT_LT(after, 1000u);
}

}  // namespace
}  // namespace qor
