// A whole session: upload window, progress and titles, the settling wait, Cancel, and the check of
// the version the device reports afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/process.h"
#include "net/clock.h"
#include "tests/support/http_test_server.h"
#include "tests/tftp/session_fixture.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_templates.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TftpTestPeer;

constexpr std::uint32_t DEVICE = 0x7F000701;  // 127.0.7.1

class Session : public test::SessionTest {
 protected:
  // Plays the device through a whole upload.
  static bool fetch(TftpTestPeer& peer, Bytes& received) {
    auto oack = peer.receive();
    return oack && oack->opcode() == TFTP_OACK && peer.fetch_after_oack(received);
  }
};

struct StageCase {
  const char* name;
  std::int32_t stage;
};

class SessionStage : public Session, public ::testing::WithParamInterface<StageCase> {};

TEST_P(SessionStage, ProgressAndTitleFollowTheAcknowledgedBytes) {
  upgrade_stage.store(GetParam().stage);
  const Bytes& image = GetParam().stage ? target_bytes_ : transition_bytes_;
  const std::string prefix = std::string("Uploading ") + GetParam().name + " Firmware to QOR@127.0.7.1 ";
  TftpTestPeer peer(DEVICE);
  start(peer);
  Window w = fake_->wait_for(IDD_UPLOAD);
  ASSERT_NE(w, Window::none);

  auto oack = peer.receive();
  ASSERT_TRUE(oack);
  const unsigned block_count = static_cast<unsigned>(image.size() / 512 + 1);
  EXPECT_EQ(fake_->snapshot(w)->controls[IDC_PROGRESS].range_high, static_cast<int>(block_count));
  Bytes received;
  peer.send_ack(0);
  for (unsigned block = 1;; ++block) {
    auto d = peer.receive();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->block(), block);
    // Title and bar move before the next block goes out.
    auto state = fake_->snapshot(w);
    EXPECT_EQ(state->title,
              prefix + std::to_string((block - 1) * 512) + "/" + std::to_string(image.size()) + " Bytes");
    EXPECT_EQ(state->controls[IDC_PROGRESS].position, static_cast<int>(block));
    Bytes payload = d->payload();
    received.insert(received.end(), payload.begin(), payload.end());
    peer.send_ack(block);
    if (payload.size() < 512) break;
  }
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_EQ(received, image);

  std::vector<int> positions = fake_->progress_positions(w);
  ASSERT_GT(positions.size(), block_count + 1);
  EXPECT_EQ(positions[block_count - 1], static_cast<int>(block_count));
  EXPECT_EQ(positions[block_count], static_cast<int>(block_count + 1));  // the last acknowledgement
  EXPECT_EQ(positions[block_count + 1], 0);                              // the settling wait starts
  EXPECT_EQ(positions.back(), static_cast<int>(timing.settle_steps));
  WindowSnapshot last = fake_->last_state(w);
  EXPECT_EQ(last.title, std::string("Updating ") + GetParam().name + " Firmware to QOR@127.0.7.1");
  EXPECT_EQ(last.controls[IDC_PROGRESS].range_high, static_cast<int>(timing.settle_steps));
  EXPECT_GE(event_index("destroy 110"), 0);
}

INSTANTIATE_TEST_SUITE_P(Stages, SessionStage,
                         ::testing::Values(StageCase{"Target", 1}, StageCase{"Transition", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Session, TimedOutUploadWaitsInFullThenReportsIncomplete) {
  timing.polls_per_interval = 3;
  timing.max_intervals = 2;
  timing.verify_attempts = 3;
  TftpTestPeer peer(DEVICE);
  start(peer);
  Window w = fake_->wait_for(IDD_UPLOAD);
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_EQ(fake_->last_state(w).title, "Updating Target Firmware to QOR@127.0.7.1");
  EXPECT_EQ(fake_->progress_positions(w).back(), static_cast<int>(timing.settle_steps));
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: Firmware Upload Incomplete"});
  EXPECT_LT(event_index("destroy 110"), event_index("box Upgrade Failed: Firmware Upload Incomplete"));
  EXPECT_FALSE(shown(IDD_CONNECTING));     // no verification after a failed upload
  EXPECT_EQ(peer.drain(50ms).size(), 2u);  // the OACK and its one resend
}

class SessionCancel : public Session, public ::testing::WithParamInterface<bool> {};

TEST_P(SessionCancel, CancelEndsTheUpgrade) {
  const bool during_wait = GetParam();
  timing.settle_steps = 100000;  // only Cancel can end this wait
  TftpTestPeer peer(DEVICE);
  if (!during_wait) fake_->on_show(IDD_UPLOAD, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(peer);
  Window w = fake_->wait_for(IDD_UPLOAD);
  if (during_wait) {
    Bytes received;
    ASSERT_TRUE(fetch(peer, received));
    fake_->click(w, IDCANCEL);
  }
  ASSERT_TRUE(trap_.wait());
  finish();
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_FALSE(returned_);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: User Abort"});
  EXPECT_LT(event_index("destroy 110"), event_index("box Upgrade Failed: User Abort"));
}

INSTANTIATE_TEST_SUITE_P(When, SessionCancel, ::testing::Bool(), [](const auto& info) {
  return info.param ? "DuringSettlingWait" : "DuringTransfer";
});

TEST_F(Session, SettlingWaitLastsItsFullLengthAcrossTheClockWrap) {
  timing.settle_steps = 6;
  timing.settle_sleep_ms = 5;
  set_clock_offset(0);
  set_clock_offset(0xFFFFFFFFu - 70u - time_get_time());  // the clock wraps ~70 ms into the wait
  Window w = toolkit().create_dialog(IDD_UPLOAD, transfer_dialog_proc);
  const std::uint32_t before = time_get_time();
  run_settling_wait(w, "Target");
  const std::uint32_t after = time_get_time();
  set_clock_offset(0);
  toolkit().destroy_window(w);

  EXPECT_LT(after, before);  // the wait did cross the wrap
  EXPECT_GT(after - before, (timing.settle_steps - 1) * 32u);
  std::vector<int> positions = fake_->progress_positions(w);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), 6);
}

// Verification reads the status page from port 80 of the address that fetched the image.
struct VerifyCase {
  const char* name;
  std::uint32_t device;  // one address per case, so that the cases can run side by side
  std::int32_t stage;
  std::int32_t phone;
  const char* reported;
  bool success_window;
  const char* box;  // or null
};

class SessionVerify : public Session, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(SessionVerify, ComparesTheReportedVersionWithTheServedImage) {
  const VerifyCase& c = GetParam();
  test::HttpTestServer http(DEVICE_HTTP_PORT, c.device);
  if (!http.ok()) GTEST_SKIP() << "port 80 cannot be bound here";
  http.set_default(
      test::http_page(std::string("<tr><td>Software Version:</td><td>") + c.reported + "</td></tr>"));
  timing.verify_attempts = 10;
  upgrade_stage.store(c.stage);
  phone_variant = c.phone;
  fake_->on_show(IDD_SUCCESS, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  TftpTestPeer peer(c.device);
  start(peer);
  Bytes received;
  ASSERT_TRUE(fetch(peer, received));
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_EQ(received, c.stage ? target_bytes_ : transition_bytes_);
  EXPECT_EQ(http.request_count(), 1u);
  EXPECT_NE(http.requests()[0].find("GET /admin/advanced "), std::string::npos);
  EXPECT_EQ(shown(IDD_SUCCESS), c.success_window);
  EXPECT_EQ(box_texts(), c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
}

constexpr const char* MISMATCH = "Upgrade Failed: Version not matching";

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionVerify,
    ::testing::Values(VerifyCase{"TargetMatches", 0x7F000711, 1, 0, "3.2.1", true, nullptr},
                      VerifyCase{"TargetDiffers", 0x7F000712, 1, 0, "3.2.0", false, MISMATCH},
                      VerifyCase{"ReportedVersionLonger", 0x7F000713, 1, 0, "3.2.1A", false, MISMATCH},
                      VerifyCase{"PhoneSkipsComparison", 0x7F000714, 1, 1, "9.9.9", true, nullptr},
                      VerifyCase{"TransitionMatchesQuietly", 0x7F000715, 0, 0, "3.0.5", false, nullptr},
                      VerifyCase{"TransitionDiffers", 0x7F000716, 0, 0, "3.2.1", false, MISMATCH}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Session, StatusPageThatNeverComesIsReported) {
  const std::uint32_t device = 0x7F000721;
  test::HttpTestServer http(DEVICE_HTTP_PORT, device);
  if (!http.ok()) GTEST_SKIP() << "port 80 cannot be bound here";
  test::HttpReply silent;
  silent.close_silently = true;
  http.set_default(silent);
  timing.verify_attempts = 3;
  fake_->on_show(IDD_SUCCESS, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  TftpTestPeer peer(device);
  start(peer);
  Bytes received;
  ASSERT_TRUE(fetch(peer, received));
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_EQ(http.connection_count(), 3u);
  EXPECT_FALSE(shown(IDD_SUCCESS));
  EXPECT_EQ(box_texts(), std::vector<std::string>{"Upgrade Failed: No Response From QOR"});
}

}  // namespace
}  // namespace qor
