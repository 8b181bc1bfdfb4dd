#include "http/request_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/process.h"
#include "app/timing.h"
#include "tests/http/http_fixture.h"
#include "tests/support/fake_toolkit.h"
#include "ui/dialog_templates.h"

namespace qor::test {
namespace {

constexpr const char* ABORT_TEXT = "Upgrade Failed: User Abort";

class RequestRunner : public HttpTest {
 protected:
  void SetUp() override {
    HttpTest::SetUp();
    copy_text(device_address_text, sizeof device_address_text, "10.1.0.13");
    saved_timing_ = timing;
  }
  void TearDown() override {
    timing = saved_timing_;
    HttpTest::TearDown();
  }

  RequestJob job_for(const HttpTestServer& server, const char* path = STATUS_PAGE_PATH) {
    return RequestJob{app_instance, LOOPBACK_ADDRESS, HTTP_BIND_PORT_BASE, LOOPBACK_ADDRESS, server.port(),
                      path,         page_buffer,      PAGE_CAPACITY};
  }

  // The scripted user answers the password dialog with these credentials (OK), or cancels.
  void answer_password(const std::string& password, const std::string& username = "") {
    fake_->on_show(IDD_PASSWORD, [=](FakeToolkit& fake, Window w) {
      if (!username.empty()) fake.type(w, IDC_USERNAME, username);
      fake.type(w, IDC_PASSWORD, password);
      fake.click(w, IDOK);
    });
  }

  int count_shown(int template_id) {
    int n = 0;
    for (int id : fake_->shown_templates())
      n += id == template_id;
    return n;
  }

  ScopedFakeToolkit fake_;
  Timing saved_timing_;
};

// The device's side of Digest with qop "auth": a page for the right password under `nonce`.
bool authorized(const std::string& request, const char* nonce, const char* password) {
  std::size_t at = request.find("cnonce=\"");
  std::size_t nc_at = request.find(",nc=");
  if (at == std::string::npos || nc_at == std::string::npos) return false;
  std::string cnonce = request.substr(at + 8, request.find('"', at + 8) - at - 8);
  std::string nc = request.substr(nc_at + 4, 9);
  char expected[MD5_HEX_SIZE];
  compute_digest_response(nonce, cnonce.c_str(), "admin", "QOR", password, "", nc.c_str(), "GET", "auth",
                          STATUS_PAGE_PATH, "", expected);
  return request.find(std::string("response=\"") + expected + "\"") != std::string::npos;
}

TEST_F(RequestRunner, PlainPageTakesOneAttemptWithoutPasswordDialog) {
  HttpTestServer server;
  HttpReply reply = http_page(status_page());
  server.push(reply);
  EXPECT_EQ(run_device_request(job_for(server)), static_cast<std::int32_t>(reply.bytes.size()));
  EXPECT_EQ(fake_->events(), (std::vector<std::string>{"create 105", "show 105", "destroy 105"}));
  EXPECT_STREQ(device_info.product_name, "QOR-2102");
}

TEST_F(RequestRunner, ConnectingWindowTitleAndBarRange) {
  HttpTestServer server;
  server.push(http_page(status_page()));
  run_device_request(job_for(server));
  WindowSnapshot state = fake_->last_state(fake_->wait_for(IDD_CONNECTING));
  EXPECT_EQ(state.title, "Connecting with QOR@10.1.0.13");
  EXPECT_EQ(state.controls[IDC_PROGRESS].range_low, 0);
  EXPECT_EQ(state.controls[IDC_PROGRESS].range_high, 100);
}

TEST_F(RequestRunner, RefusedConnectionReturnsZeroWithoutPasswordDialog) {
  Socket refuser(open_tcp_socket());
  bind_socket(refuser.get(), LOOPBACK_ADDRESS, 0);
  RequestJob job{
      app_instance,     LOOPBACK_ADDRESS, HTTP_BIND_PORT_BASE, LOOPBACK_ADDRESS, local_port(refuser.get()),
      STATUS_PAGE_PATH, page_buffer,      PAGE_CAPACITY};
  EXPECT_EQ(run_device_request(job), 0);
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
    fake.type(w, IDC_PASSWORD, "pw");
    fake.click(w, IDOK);
  });
  EXPECT_GT(run_device_request(job_for(server)), 0);
  EXPECT_EQ(seen.controls[IDC_USERNAME].text, "admin");
  EXPECT_EQ(seen.controls[IDC_PASSWORD].text, "");
  EXPECT_EQ(seen.focus, IDC_PASSWORD);
  EXPECT_EQ(seen.controls[IDC_MAIN_TEXT].text, PASSWORD_HELP_TEXT);
  EXPECT_EQ(fake_->shown_templates(), (std::vector<int>{IDD_CONNECTING, IDD_PASSWORD, IDD_CONNECTING}));
  EXPECT_STREQ(device_info.product_name, "OPEN");
  EXPECT_STREQ(digest_state.username, "admin");
  EXPECT_EQ(server.request_count(), 2u);
}

TEST_F(RequestRunner, RefusalUnderTheSameNonceAsksAgainAtOnce) {
  HttpTestServer server;
  server.set_default(challenge_reply("same"));
  int shown = 0;
  fake_->on_show(IDD_PASSWORD, [&](FakeToolkit& fake, Window w) {
    if (++shown == 2) {
      EXPECT_EQ(fake.snapshot(w)->controls[IDC_USERNAME].text, "admin");  // preset again
      return fake.click(w, IDCANCEL);
    }
    fake.type(w, IDC_USERNAME, "root");
    fake.type(w, IDC_PASSWORD, "wrong");
    fake.click(w, IDOK);
  });
  ExitTrap trap;
  EXPECT_THROW(run_device_request(job_for(server)), ProcessExit);
  EXPECT_EQ(trap.code(), 0);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(server.request_count(), 2u);  // no quick repeat between the dialogs
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, ABORT_TEXT);
  EXPECT_EQ(fake_->message_boxes()[0].caption, "QOR Firwmare Upgrade Error");
}

TEST_F(RequestRunner, NewNonceEarnsOneQuickRepeatAndOKEarnsAnother) {
  HttpTestServer server;
  // Stored credentials from an earlier request; the device has since moved on to new nonces.
  set_credentials("admin", "pw");
  std::strcpy(digest_state.nonce, "old");
  std::strcpy(digest_state.previous_nonce, "old");
  digest_state.nonce_count = 4;
  server.push(challenge_reply("n2"));  // quick repeat
  server.push(challenge_reply("n3"));  // refused again under a new nonce: ask
  server.push(challenge_reply("n4"));  // after OK: another quick repeat
  server.push(http_page(status_page("OPEN")));
  answer_password("pw");
  EXPECT_GT(run_device_request(job_for(server)), 0);
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
  answer_password("");
  EXPECT_GT(run_device_request(job_for(server)), 0);
  EXPECT_EQ(count_shown(IDD_PASSWORD), 2);
  EXPECT_EQ(server.requests()[1].find("Authorization"), std::string::npos);
}

TEST_F(RequestRunner, CancelInPasswordDialogEndsTheRun) {
  HttpTestServer server;
  server.set_default(challenge_reply("n"));
  fake_->on_show(IDD_PASSWORD, [](FakeToolkit& fake, Window w) { fake.click(w, IDCANCEL); });
  ExitTrap trap;
  EXPECT_THROW(run_device_request(job_for(server)), ProcessExit);
  EXPECT_EQ(trap.code(), 0);
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, ABORT_TEXT);
}

TEST_F(RequestRunner, CancelWhileTheDeviceHoldsTheConnection) {
  HttpTestServer server;
  HttpReply held;
  held.never_close = true;
  server.push(held);
  std::thread canceller;
  fake_->on_show(IDD_CONNECTING, [&](FakeToolkit& fake, Window w) {
    // Cancel once the request is on the wire, so that the worker is really stuck in its receive.
    canceller = std::thread([&server, &fake, w] {
      server.wait_for_requests(1);
      fake.click(w, IDCANCEL);
    });
  });
  ExitTrap trap;
  EXPECT_THROW(run_device_request(job_for(server)), ProcessExit);
  canceller.join();
  EXPECT_EQ(trap.code(), 0);
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, ABORT_TEXT);
  EXPECT_FALSE(fake_->snapshot(fake_->wait_for(IDD_CONNECTING)).has_value());
  auto events = fake_->events();
  EXPECT_EQ(events[events.size() - 2], "destroy 105");  // gone before the message
}

TEST_F(RequestRunner, WorkerThatEndsTheProcessTakesTheRunnerWithIt) {
  const std::uint16_t base = 38611;
  std::vector<Socket> taken;
  for (int i = 0; i < BIND_PORT_TRIES; ++i) {
    taken.emplace_back(open_tcp_socket());
    bind_socket(taken.back().get(), LOOPBACK_ADDRESS, static_cast<std::uint16_t>(base + i));
  }
  HttpTestServer server;
  RequestJob job = job_for(server);
  job.bind_port_base = base;
  ExitTrap trap;
  EXPECT_THROW(run_device_request(job), ProcessExit);
  ASSERT_TRUE(trap.wait());
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, "Upgrade Failed: Can't bind HTTP socket");
}

TEST_F(RequestRunner, LongCredentialsAreCutTo126) {
  HttpTestServer server;
  server.push(challenge_reply("n"));
  server.push(http_page(status_page()));
  answer_password(std::string(130, 'p'), std::string(130, 'u'));
  run_device_request(job_for(server));
  EXPECT_EQ(std::string(digest_state.username), std::string(126, 'u'));
  EXPECT_EQ(std::string(digest_state.password), std::string(126, 'p'));
}

// The bar steps 0..100 then 0 again, once per 10 passes, and carries on across the attempts of a call.
TEST_F(RequestRunner, BarPositionsWrapAndCarryOnAcrossAttempts) {
  timing.runner_poll_ms = 0;
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
  run_device_request(job_for(server));
  std::vector<int> first = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 0));
  std::vector<int> second = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 1));
  ASSERT_GE(first.size(), 120u);
  ASSERT_GE(second.size(), 3u);
  std::vector<int> all = first;
  all.insert(all.end(), second.begin(), second.end());
  for (std::size_t i = 0; i < all.size(); ++i)
    ASSERT_EQ(all[i], static_cast<int>(i % 101)) << "at " << i;

  run_device_request(job_for(server));
  std::vector<int> next_call = fake.progress_positions(fake.wait_for(IDD_CONNECTING, 2));
  ASSERT_FALSE(next_call.empty());
  EXPECT_EQ(next_call[0], 0);
}

// The main thread's and the listener thread's requests never overlap.
TEST_F(RequestRunner, RequestsFromTwoThreadsTakeTurns) {
  HttpTestServer first, second;
  std::atomic<bool> release{false};
  first.set_handler([&](const HttpRequestRecord&, std::size_t) {
    while (!release.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return http_page(status_page("FIRST"));
  });
  second.set_default(http_page(status_page("SECOND")));
  std::int32_t first_result = -5, second_result = -5;
  std::thread a([&] { first_result = run_device_request(job_for(first)); });
  ASSERT_TRUE(first.wait_for_requests(1));
  std::thread b([&] { second_result = run_device_request(job_for(second)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(second.connection_count(), 0u);
  release.store(true);
  a.join();
  b.join();
  EXPECT_GT(first_result, 0);
  EXPECT_GT(second_result, 0);
  EXPECT_STREQ(device_info.product_name, "SECOND");
}

TEST(PasswordDialog, HelpTextStandsAsWritten) {
  EXPECT_STREQ(
      PASSWORD_HELP_TEXT,
      "This QOR requires a password in order to be\r\nupgraded. If you do not have "
      "administrator's\r\nprivileges "
      "for this unit, please contact your\r\nService Provider or network administrator,\r\nbefore "
      "proceeding.\r\n\r\nYou must provide the QOR administrator's\r\npassword to upgrade. If you are the "
      "administrator\r\nand forgot the password, you may perform a\r\nfactory reset by entering * * * *, "
      "option "
      "52914#,\r\nand value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n* * * * * * * "
      "* * "
      "* *  Warning  * * * * * * * * * * *\r\nAll settings will revert to default values\r\nafter factory "
      "reset!  "
      "You may not be able to\r\nreestablish service after completing this upgrade\r\nwithout first "
      "reentering "
      "service configuration\r\ninformation.");
}

}  // namespace
}  // namespace qor::test
