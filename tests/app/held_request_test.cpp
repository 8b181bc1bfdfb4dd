// A whole run against a device that fetches the image at once and leaves the upgrade request open, or
// answers it long after verification was due: verification goes out on time, from its own connection,
// and the run ends upgraded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/upgrade.h"
#include "base/process.h"
#include "base/text.h"
#include "net/socket.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/http_test_server.h"
#include "tests/tftp/tftp_test_peer.h"

namespace qor {
namespace {

using namespace std::chrono_literals;

std::string page(const char* version) {
  return std::string("<tr><td>Software Version:</td><td>") + version + "</td></tr>";
}

// Each case on addresses of its own (127.0.N.1 this PC, 127.0.N.2 the device): they may run at once.
struct HeldCase {
  int reply_after_ms;  // 0: never
  unsigned subnet;
};

class HeldUpgradeRequest : public ::testing::TestWithParam<HeldCase> {};

TEST_P(HeldUpgradeRequest, VerificationIsNotDelayed) {
  if (!test::loopback_sources_kept()) GTEST_SKIP() << test::LOOPBACK_SOURCES_LOST;
  const int reply_after_ms = GetParam().reply_after_ms;
  const std::uint32_t PC = 0x7F000001 | (GetParam().subnet << 8);
  const std::uint32_t DEVICE = PC + 1;
  const std::string device_text = "127.0." + std::to_string(GetParam().subnet) + ".2";
  test::HttpTestServer device(DEVICE_HTTP_PORT, DEVICE);
  test::TftpTestPeer tftp(DEVICE);
  Socket probe(open_udp_socket());
  if (!device.ok() || !bind_socket(probe.get(), PC, 69)) GTEST_SKIP() << "ports 80 and 69 need privilege";
  probe.close();

  device.set_handler([&](const test::HttpRequestRecord& request, std::size_t) {
    if (request.bytes.find("GET /admin/upgrade?") == 0) {
      test::HttpReply held = test::http_page("started");
      held.delay_ms = reply_after_ms ? reply_after_ms : 3600 * 1000;
      return held;
    }
    static int status_reads = 0;
    return test::http_page(page(status_reads++ == 0 ? "3.0.0" : "3.2.1"));
  });

  test::Bytes image(5000, 0x5A);
  auto run = std::make_unique<UpgradeRun>();
  run->target_image.data = image.data();
  run->target_image.size = static_cast<std::uint32_t>(image.size());
  set_image_version(run->target_image, "3.2.1");
  run->local_addresses[0] = PC;
  run->timing.settle_steps = 4;  // about 128 ms
  run->timing.verify_attempts = 1;

  test::ScopedFakeToolkit fake;
  test::ExitTrap trap;
  fake->agree_to_everything(device_text);
  std::thread sequence([&] {
    try {
      run_upgrade_sequence(*run);
    } catch (const ProcessExit&) {
    }
  });

  ASSERT_TRUE(device.wait_for_requests(2));
  const std::string trigger = device.requests()[1];
  const std::size_t name_at = trigger.find("/qor");
  ASSERT_NE(name_at, std::string::npos) << trigger;
  tftp.aim(PC, 69);
  tftp.send_rrq(trigger.substr(name_at, trigger.find(' ', name_at) - name_at));
  test::Bytes received;
  auto oack = tftp.receive();
  ASSERT_TRUE(oack && oack->opcode() == 6);
  ASSERT_TRUE(tftp.fetch_after_oack(received));
  const auto last_ack = std::chrono::steady_clock::now();

  EXPECT_TRUE(trap.wait(5s));
  const auto verified_after = std::chrono::steady_clock::now() - last_ack;
  sequence.join();
  EXPECT_EQ(received, image);
  EXPECT_EQ(run->outcome.load(), Outcome::upgraded);
  ASSERT_EQ(device.request_count(), 3u);
  EXPECT_EQ(device.requests()[2].find("GET /admin/advanced HTTP/1.1\r\n"), 0u);
  EXPECT_EQ(device.records()[2].peer_address, PC);
  EXPECT_LT(verified_after, 5s);  // the held reply comes after 30 s, or never
  EXPECT_TRUE(fake->message_boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Device, HeldUpgradeRequest, ::testing::Values(HeldCase{0, 50}, HeldCase{30000, 51}),
                         [](const auto& info) {
                           return info.param.reply_after_ms ? "AnswersLate" : "NeverAnswers";
                         });

}  // namespace
}  // namespace qor
