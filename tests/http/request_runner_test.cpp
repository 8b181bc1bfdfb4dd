#include "http/request_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/process.h"
#include "tests/http/http_fixture.h"

namespace qor::test {
namespace {

using RequestRunner = RunnerTest;

TEST_F(RequestRunner, PlainPageTakesOneAttemptInTheConnectingWindow) {
  HttpTestServer server;
  HttpReply reply = http_page(status_page());
  server.push(reply);
  TraceRecorder traces;
  RequestResult result = run_device_request(run, job_for(server.port()), info);
  EXPECT_EQ(result.failure, Outcome::none);
  EXPECT_EQ(result.received, size_of(reply));
  EXPECT_EQ(fake_->events(), (std::vector<std::string>{"create 105", "show 105", "destroy 105"}));
  EXPECT_STREQ(info.product_name, "QOR-2102");
  WindowSnapshot state = fake_->last_state(fake_->wait_for(IDD_CONNECTING));
  EXPECT_EQ(state.title, "Connecting with QOR@10.1.0.13");
  EXPECT_EQ(state.controls[IDC_PROGRESS].range_low, 0);
  EXPECT_EQ(state.controls[IDC_PROGRESS].range_high, 100);
  const std::string announce = "HTTP 7f000001:23456 to 7f000001:" + std::to_string(server.port());
  const std::vector<std::string> traces_seen = TraceRecorder::lines();
  EXPECT_NE(std::find(traces_seen.begin(), traces_seen.end(), announce), traces_seen.end());
}

TEST_F(RequestRunner, RefusedConnectionReturnsZeroWithoutPasswordDialog) {
  std::uint16_t port = 0;
  Socket refuser = refusing_port(port);
  RequestResult result = run_device_request(run, job_for(port), info);
  EXPECT_EQ(result.failure, Outcome::none);
  EXPECT_EQ(result.received, 0);
  EXPECT_EQ(count_shown(IDD_PASSWORD), 0);
}

TEST_F(RequestRunner, FirstChallengeAsksWithAdminPresetAndFocusOnThePassword) {
  HttpTestServer server;
  server.set_handler([](const HttpRequestRecord& r, std::size_t) {
    return authorized(r.bytes, "n1", "pw") ? http_page(status_page("OPEN")) : challenge_reply("n1");
  });
  WindowSnapshot seen;
  fake_->on_show(IDD_PASSWORD, [&](FakeToolkit& fake, Window w) {
    seen = *fake.snapshot(w);
    fake.type(w, password_ids::PASSWORD, "pw");
    fake.click(w, IDOK);
  });
  EXPECT_GT(run_device_request(run, job_for(server.port()), info).received, 0);
  EXPECT_EQ(seen.controls[password_ids::USERNAME].text, "admin");
  EXPECT_EQ(seen.controls[password_ids::PASSWORD].text, "");
  EXPECT_EQ(seen.focus, password_ids::PASSWORD);
  EXPECT_EQ(
      seen.controls[password_ids::HELP].text,
      "This QOR requires a password in order to be\r\nupgraded. If you do not have administrator's\r\n"
      "privileges for this unit, please contact your\r\nService Provider or network administrator,\r\nbefore "
      "proceeding.\r\n\r\nYou must provide the QOR administrator's\r\npassword to upgrade. If you are the "
      "administrator\r\nand forgot the password, you may perform a\r\nfactory reset by entering * * * *, "
      "option "
      "52914#,\r\nand value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n* * * * * * * "
      "* * "
      "* *  Warning  * * * * * * * * * * *\r\nAll settings will revert to default values\r\nafter factory "
      "reset!  You may not be able to\r\nreestablish service after completing this upgrade\r\nwithout first "
      "reentering service configuration\r\ninformation.");
  EXPECT_EQ(fake_->shown_templates(), (std::vector<int>{IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING}));
  EXPECT_STREQ(info.product_name, "OPEN");
  EXPECT_STREQ(digest().username, "admin");
  EXPECT_EQ(server.request_count(), 2u);
}

// Cancel in the password dialog is returned as the user's abort; the caller tells the user.
TEST_F(RequestRunner, RefusalUnderTheSameNonceAsksAgainAtOnceAndCancelAborts) {
  HttpTestServer server;
  server.set_default(challenge_reply("same"));
  int shown = 0;
  fake_->on_show(IDD_PASSWORD, [&](FakeToolkit& fake, Window w) {
    if (++shown == 2) {
      EXPECT_EQ(fake.snapshot(w)->controls[password_ids::USERNAME].text, "admin");  // preset again
      return fake.click(w, IDCANCEL);
    }
    fake.type(w, password_ids::USERNAME, "root");
    fake.type(w, password_ids::PASSWORD, "wrong");
    fake.click(w, IDOK);
  });
  RequestResult result = run_device_request(run, job_for(server.port()), info);
  EXPECT_EQ(result.failure, Outcome::user_abort);
  EXPECT_EQ(result.received, 0);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(server.request_count(), 2u);  // no quick repeat between the dialogs
  EXPECT_TRUE(fake_->message_boxes().empty());
}

TEST_F(RequestRunner, NewNonceEarnsOneQuickRepeatAndOKEarnsAnother) {
  HttpTestServer server;
  // Stored credentials from an earlier request; the device has since moved on to new nonces.
  set_credentials("admin", "pw");
  std::strcpy(digest().nonce, "old");
  std::strcpy(digest().previous_nonce, "old");
  digest().nonce_count = 4;
  server.push(challenge_reply("n2"));  // quick repeat
  server.push(challenge_reply("n3"));  // refused again under a new nonce: ask
  server.push(challenge_reply("n4"));  // after OK: another quick repeat
  server.push(http_page(status_page("OPEN")));
  fake_->on_show(IDD_PASSWORD, [](FakeToolkit& fake, Window w) {
    fake.type(w, password_ids::PASSWORD, "pw");
    fake.click(w, IDOK);
  });
  EXPECT_GT(run_device_request(run, job_for(server.port()), info).received, 0);
  EXPECT_EQ(count_shown(IDD_PASSWORD), 1);
  EXPECT_EQ(count_shown(IDD_CONNECTING), 4);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_NE(requests[1].find("nonce=\"n2\""), std::string::npos);
  EXPECT_NE(requests[1].find("nc=000000001"), std::string::npos);
  EXPECT_NE(requests[3].find("nonce=\"n4\""), std::string::npos);
  EXPECT_EQ(fake_->shown_templates()[2], IDD_PASSWORD);
}

TEST_F(RequestRunner, EmptyPasswordNeverRepeatsQuietly) {
  HttpTestServer server;
  server.push(challenge_reply("a"));
  server.push(challenge_reply("b"));
  server.push(http_page(status_page()));
  fake_->on_show(IDD_PASSWORD, [](FakeToolkit& fake, Window w) { fake.click(w, IDOK); });
  EXPECT_GT(run_device_request(run, job_for(server.port()), info).received, 0);
  EXPECT_EQ(count_shown(IDD_PASSWORD), 2);
  EXPECT_EQ(server.requests()[1].find("Authorization"), std::string::npos);
}

// Cancel while the worker is stuck receiving, from a device that holds the connection silently or
// trickles a reply that never ends: the window goes and the abort comes back at once.
class CancelWhileWaiting : public RunnerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelWhileWaiting, ReturnsTheAbortWithTheWindowGone) {
  HttpReply reply = GetParam() ? http_page(std::string(1 << 20, 'x')) : HttpReply{};
  reply.chunk_size = 64;  // a trickle, when there is anything to send
  reply.chunk_delay_ms = 5;
  reply.never_close = true;
  HttpTestServer server;
  server.push(reply);
  std::thread canceller;
  fake_->on_show(IDD_CONNECTING, [&](FakeToolkit& fake, Window w) {
    // Cancel once the request is on the wire, so that the worker is really stuck in its receive.
    canceller = std::thread([&server, &fake, w] {
      server.wait_for_requests(1);
      fake.click(w, IDCANCEL);
    });
  });
  RequestResult result = run_device_request(run, job_for(server.port()), info);
  canceller.join();
  EXPECT_EQ(result.failure, Outcome::user_abort);
  EXPECT_EQ(result.received, 0);
  EXPECT_FALSE(fake_->snapshot(fake_->wait_for(IDD_CONNECTING)).has_value());
  EXPECT_EQ(fake_->events(), (std::vector<std::string>{"create 105", "show 105", "destroy 105"}));
}

INSTANTIATE_TEST_SUITE_P(Devices, CancelWhileWaiting, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "EndlessReply" : "SilentHold"; });

// When another thread ends the run, the runner waiting on a silent device ends with it.
TEST_F(RequestRunner, RunEndedElsewhereTakesTheRunnerWithIt) {
  HttpTestServer server;
  HttpReply held;
  held.never_close = true;
  server.push(held);
  ExitTrap trap;
  std::thread ender([&server] {
    server.wait_for_requests(1);
    try {
      end_process(0);
    } catch (const ProcessExit&) {
    }
  });
  EXPECT_THROW(run_device_request(run, job_for(server.port()), info), ProcessExit);
  ender.join();
  EXPECT_EQ(trap.code(), 0);
  EXPECT_TRUE(fake_->message_boxes().empty());
}

// The bar steps 0..100 then 0 again, once per 10 passes, and carries on across the attempts of a call.
TEST_F(RequestRunner, BarPositionsWrapAndCarryOnAcrossAttempts) {
  run.timing.runner_poll_ms = 0;
  HttpTestServer server;
  FakeToolkit& fake = *fake_;
  auto after_positions = [&fake](int nth, std::size_t count, HttpReply reply) {
    Window w = fake.wait_for(IDD_CONNECTING, nth);
    for (int i = 0; i < 20000 && fake.progress_positions(w).size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return reply;
  };
  server.set_handler([&](const HttpRequestRecord&, std::size_t index) {
    if (index == 0) return after_positions(0, 120, challenge_reply("fresh"));
    if (index == 1) return after_positions(1, 3, http_page(status_page()));
    return after_positions(2, 3, http_page(status_page()));
  });
  set_credentials("admin", "pw");
  run_device_request(run, job_for(server.port()), info);
  std::vector<int> first = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 0));
  std::vector<int> second = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 1));
  ASSERT_GE(first.size(), 120u);
  ASSERT_GE(second.size(), 3u);
  std::vector<int> all = first;
  all.insert(all.end(), second.begin(), second.end());
  for (std::size_t i = 0; i < all.size(); ++i)
    ASSERT_EQ(all[i], static_cast<int>(i % 101)) << "at " << i;

  run_device_request(run, job_for(server.port()), info);
  std::vector<int> next_call = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 2));
  ASSERT_FALSE(next_call.empty());
  EXPECT_EQ(next_call[0], 0);
}

// A device that accepts the upgrade request and never answers must not hold up the verification that
// the other thread of the same run sends meanwhile; both requests count on under the one nonce.
TEST_F(RequestRunner, SilentDeviceDoesNotDelayAnotherRequestOfTheRun) {
  std::strcpy(digest().realm, "QOR");
  std::strcpy(digest().nonce, "n1");
  std::strcpy(digest().qop, "auth");
  set_credentials("admin", "pw");
  HttpTestServer silent, answering;
  HttpReply held;
  held.never_close = true;
  silent.push(held);
  answering.set_default(http_page(status_page("SECOND")));

  RequestResult first{Outcome::declined, -5}, second{Outcome::declined, -5};
  DeviceInfo first_info{}, second_info{};
  std::atomic<bool> first_done{false}, second_done{false};
  std::thread a([&] {
    first = run_device_request(run, job_for(silent.port()), first_info);
    first_done.store(true);
  });
  EXPECT_TRUE(silent.wait_for_requests(1));
  std::thread b([&] {
    second = run_device_request(run, job_for(answering.port()), second_info);
    second_done.store(true);
  });
  EXPECT_TRUE(eventually([&] { return second_done.load(); }));
  EXPECT_FALSE(first_done.load());
  silent.release();
  a.join();
  b.join();

  EXPECT_EQ(second.failure, Outcome::none);
  EXPECT_GT(second.received, 0);
  EXPECT_STREQ(second_info.product_name, "SECOND");
  EXPECT_EQ(first.failure, Outcome::none);
  EXPECT_EQ(first.received, 0);
  ASSERT_EQ(silent.request_count(), 1u);
  ASSERT_EQ(answering.request_count(), 1u);
  EXPECT_NE(silent.requests()[0].find(",nonce=\"n1\","), std::string::npos);
  EXPECT_NE(silent.requests()[0].find(",nc=000000001,"), std::string::npos);
  EXPECT_NE(answering.requests()[0].find(",nonce=\"n1\","), std::string::npos);
  EXPECT_NE(answering.requests()[0].find(",nc=000000002,"), std::string::npos);
  EXPECT_EQ(digest().nonce_count, 2u);
}

}  // namespace
}  // namespace qor::test
