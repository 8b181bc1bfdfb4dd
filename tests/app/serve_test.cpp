// Serving a stage - upload window, transfer, settling wait, verification of the version the device then
// reports, success - and the listener thread that serves the stages one after the other and ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/serve.h"
#include "base/process.h"
#include "base/text.h"
#include "net/clock.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/http_test_server.h"
#include "tests/tftp/tftp_test_peer.h"
#include "tftp/tftp_session.h"
#include "ui/texts.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TftpTestPeer;

constexpr std::uint32_t LOOPBACK = 0x7F000001;

FirmwareImage image_of(const Bytes& bytes, const char* version) {
  FirmwareImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size()), {}};
  set_image_version(image, version);
  return image;
}

test::HttpReply status_page(const char* version) {
  return test::http_page(std::string("<tr><td>Software Version:</td><td>") + version + "</td></tr>");
}

// Plays the device through a whole upload; the OACK must come from `port` when one is given.
bool fetch(TftpTestPeer& peer, Bytes& received, std::uint16_t port = 0) {
  auto oack = peer.receive();
  return oack && oack->opcode() == TFTP_OACK && (!port || oack->from_port == port) &&
         peer.fetch_after_oack(received);
}

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.timing.polls_per_interval = 5000;  // a slow machine must not provoke resends the tests do not expect
    run_.timing.settle_steps = 2;
    run_.timing.settle_sleep_ms = 4;
    run_.timing.verify_attempts = 0;  // most tests stop short of the status page; those that read it say so
    run_.target_image = image_of(target_bytes_, "3.2.1");
    run_.transition_image = image_of(transition_bytes_, "3.0.5");
    copy_text(run_.device_address_text, sizeof run_.device_address_text, "127.0.7.1");
    fake_->on_show(IDD_SUCCESS, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  }

  std::vector<std::string> box_texts() {
    std::vector<std::string> out;
    for (const auto& b : fake_->message_boxes())
      out.push_back(b.text);
    return out;
  }

  // Index of an event, or -1.
  int event_index(const std::string& event) {
    auto all = fake_->events();
    auto it = std::find(all.begin(), all.end(), event);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
  }

  test::ScopedFakeToolkit fake_;
  test::ExitTrap trap_;
  const Bytes target_bytes_ = test::pattern_bytes(1024, 1);
  const Bytes transition_bytes_ = test::pattern_bytes(700, 2);
  UpgradeRun run_;
};

// One stage served from a loopback socket on a thread of the test, as the listener thread serves it.
class Session : public Serve {
 protected:
  void SetUp() override {
    if (!test::loopback_sources_kept()) GTEST_SKIP() << test::LOOPBACK_SOURCES_LOST;
    Serve::SetUp();
    listener_.sock = Socket(open_udp_socket());
    ASSERT_TRUE(bind_socket(listener_.sock.get(), LOOPBACK, 0));
    listener_.local_addr = LOOPBACK;
    listener_.port = local_port(listener_.sock.get());
  }

  void start(TftpTestPeer& device) {
    run_.device_address = device.address();
    device.aim(LOOPBACK, listener_.port);
    const TftpRequester requester{device.address(), device.port()};
    worker_.start([this, requester] { return run_tftp_session(run_, listener_, requester); });
  }

  Outcome finish() { return worker_.finish(); }

  TftpListener listener_{};
  test::CoreThread worker_{*fake_};
};

class SessionStage : public Session, public ::testing::WithParamInterface<bool> {};

TEST_P(SessionStage, ProgressAndTitleFollowTheAcknowledgedBytes) {
  const bool target = GetParam();
  run_.upgrade_stage.store(target);
  const Bytes& image = target ? target_bytes_ : transition_bytes_;
  const std::string stage = target ? "Target" : "Transition";
  const std::string prefix = "Uploading " + stage + " Firmware to QOR@127.0.7.1 ";
  TftpTestPeer peer(0x7F000701);
  start(peer);
  Window w = fake_->wait_for(IDD_UPLOAD);
  ASSERT_NE(w, Window::none);

  ASSERT_TRUE(peer.receive());
  const unsigned block_count = static_cast<unsigned>(image.size() / 512 + 1);
  EXPECT_EQ(fake_->snapshot(w)->controls[IDC_PROGRESS].range_high, static_cast<int>(block_count));
  Bytes received;
  peer.send_ack(0);
  for (unsigned block = 1;; ++block) {
    auto d = peer.receive();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->block(), block);
    // The next block goes out first; the window follows right behind: its bar shows the acknowledgement
    // just taken or the one before, and its title (set just after the bar) counts the bytes of that
    // acknowledgement or of the one before it.
    auto state = fake_->snapshot(w);
    const int shown = state->controls[IDC_PROGRESS].position;
    EXPECT_TRUE(shown == static_cast<int>(block) || shown + 1 == static_cast<int>(block)) << block;
    auto title_at = [&](int position) {
      return position < 1 ? std::string("Uploading Firmware To QOR")
                          : prefix + std::to_string((position - 1) * 512) + "/" +
                                std::to_string(image.size()) + " Bytes";
    };
    EXPECT_TRUE(state->title == title_at(shown) || state->title == title_at(shown - 1)) << state->title;
    Bytes payload = d->payload();
    received.insert(received.end(), payload.begin(), payload.end());
    peer.send_ack(block);
    if (payload.size() < 512) break;
  }
  EXPECT_EQ(finish(), Outcome::no_response);  // no status page read at all
  EXPECT_EQ(received, image);

  // What the view was handed: rising to the last acknowledgement (coalesced, never skipping the end),
  // then the settling wait from 0.
  std::vector<int> positions = fake_->progress_positions(w);
  auto settle = std::find(positions.begin() + 1, positions.end(), 0);
  ASSERT_NE(settle, positions.end());
  EXPECT_TRUE(std::is_sorted(positions.begin(), settle));
  EXPECT_EQ(*(settle - 1), static_cast<int>(block_count + 1));  // the last acknowledgement
  EXPECT_EQ(positions.back(), static_cast<int>(run_.timing.settle_steps));
  WindowSnapshot last = fake_->last_state(w);
  EXPECT_EQ(last.title, "Updating " + stage + " Firmware to QOR@127.0.7.1");
  EXPECT_EQ(last.controls[IDC_PROGRESS].range_high, static_cast<int>(run_.timing.settle_steps));
  EXPECT_FALSE(fake_->snapshot(w));
}

INSTANTIATE_TEST_SUITE_P(Stages, SessionStage, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Target" : "Transition"; });

TEST_F(Session, TimedOutUploadWaitsInFullThenFailsWithoutVerification) {
  run_.timing.polls_per_interval = 3;
  run_.timing.max_intervals = 2;
  run_.timing.verify_attempts = 3;
  TftpTestPeer peer(0x7F000701);
  start(peer);
  Window w = fake_->wait_for(IDD_UPLOAD);
  EXPECT_EQ(finish(), Outcome::upload_incomplete);
  EXPECT_EQ(fake_->last_state(w).title, "Updating Target Firmware to QOR@127.0.7.1");
  EXPECT_EQ(fake_->progress_positions(w).back(), static_cast<int>(run_.timing.settle_steps));
  EXPECT_FALSE(fake_->snapshot(w));
  EXPECT_EQ(event_index("show 105"), -1);  // no verification
  EXPECT_EQ(peer.drain(50ms).size(), 2u);  // the OACK and its one resend
}

TEST_F(Serve, SettlingWaitLastsItsFullLengthAcrossTheClockWrap) {
  run_.timing.settle_steps = 6;
  run_.timing.settle_sleep_ms = 5;
  set_clock_offset(0);
  set_clock_offset(0xFFFFFFFFu - 70u - time_get_time());  // the clock wraps ~70 ms into the wait
  TransferWindowState state;
  Window w =
      toolkit().create_dialog(IDD_UPLOAD, transfer_dialog_proc, reinterpret_cast<std::intptr_t>(&state));
  const std::uint32_t before = time_get_time();
  EXPECT_EQ(run_settling_wait(w, state.cancelled, "Target", run_), Outcome::none);
  const std::uint32_t after = time_get_time();
  set_clock_offset(0);
  toolkit().destroy_window(w);

  EXPECT_LT(after, before);  // the wait did cross the wrap
  EXPECT_GT(after - before, (run_.timing.settle_steps - 1) * 32u);
  std::vector<int> positions = fake_->progress_positions(w);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), 6);
}

// Verification reads the status page from port 80 of the device named, and judges only what that page
// says after the upload: the device reported the target version before it, which must count for nothing.
struct VerifyCase {
  const char* name;
  std::uint32_t device;  // one address per case, so that the cases can run side by side
  std::int32_t stage;
  std::int32_t phone;
  const char* reported;  // null: the device closes every connection without a word; "": a page without
                         // the version label
  Outcome outcome;
};

class SessionVerify : public Session, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(SessionVerify, ComparesTheReportedVersionWithTheServedImage) {
  const VerifyCase& c = GetParam();
  test::HttpTestServer http(DEVICE_HTTP_PORT, c.device);
  if (!http.ok()) GTEST_SKIP() << "port 80 cannot be bound here";
  test::HttpReply silent;
  silent.close_silently = true;
  const bool labelled = c.reported && *c.reported;
  http.set_default(!c.reported ? silent
                   : labelled  ? status_page(c.reported)
                               : test::http_page("<p>503 Service Unavailable</p>"));
  copy_text(run_.device_info.software_version, DEVICE_FIELD_SIZE, c.stage ? "3.2.1" : "3.0.5");
  run_.timing.verify_attempts = 3;
  run_.upgrade_stage.store(c.stage);
  run_.phone_variant = c.phone;
  TftpTestPeer peer(c.device);
  start(peer);
  Bytes received;
  ASSERT_TRUE(fetch(peer, received));
  EXPECT_EQ(finish(), c.outcome);
  EXPECT_EQ(received, c.stage ? target_bytes_ : transition_bytes_);
  EXPECT_EQ(http.connection_count(), c.reported ? 1u : 3u);  // one page is enough
  for (const std::string& request : http.requests())
    EXPECT_EQ(request.rfind("GET /admin/advanced ", 0), 0u);
  EXPECT_EQ(event_index("show 111") >= 0, c.outcome == Outcome::upgraded);
  EXPECT_STREQ(run_.device_info.software_version, !c.reported ? (c.stage ? "3.2.1" : "3.0.5") : c.reported);
  EXPECT_TRUE(fake_->message_boxes().empty());  // the caller reports
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionVerify,
    ::testing::Values(
        VerifyCase{"TargetMatches", 0x7F000711, 1, 0, "3.2.1", Outcome::upgraded},
        VerifyCase{"TargetDiffers", 0x7F000712, 1, 0, "3.2.0", Outcome::version_not_matching},
        VerifyCase{"ReportedVersionLonger", 0x7F000713, 1, 0, "3.2.1A", Outcome::version_not_matching},
        VerifyCase{"PhoneSkipsComparison", 0x7F000714, 1, 1, "9.9.9", Outcome::upgraded},
        VerifyCase{"TransitionMatchesQuietly", 0x7F000715, 0, 0, "3.0.5", Outcome::none},
        VerifyCase{"TransitionDiffers", 0x7F000716, 0, 0, "3.2.1", Outcome::version_not_matching},
        VerifyCase{"StatusPageNeverComes", 0x7F000717, 1, 0, nullptr, Outcome::no_response},
        VerifyCase{"PageWithoutVersion", 0x7F000718, 1, 0, "", Outcome::version_not_matching},
        VerifyCase{"TransitionPageWithoutVersion", 0x7F000719, 0, 0, "", Outcome::version_not_matching}),
    [](const auto& info) { return std::string(info.param.name); });

// The listener thread on its low port, from the transition stage; skipped where such ports cannot be
// bound. Each test has addresses of its own: the PC at `pc`, the device at the next one.
class ListenerThread : public Serve {
 protected:
  void TearDown() override {
    if (started_) fake_->cancel_until([this] { return trap_.ended(); });
  }

  // Starts the listener for the transition stage and aims the device at it; false (the test is then
  // skipped) without the privilege.
  bool start(std::uint32_t pc, const char* name) {
    if (!test::low_ports_allowed()) return false;
    run_.local_address = pc;
    run_.device_address = pc + 1;
    run_.upgrade_stage.store(0);
    run_.tftp_filename.set(name);
    started_ = start_tftp_listener(run_, port_) == Outcome::none;
    EXPECT_TRUE(started_);
    device_ = TftpTestPeer(pc + 1);
    device_.aim(pc, port_);
    return true;
  }

  bool started_ = false;
  std::uint16_t port_ = 0;
  TftpTestPeer device_;
};

struct StagesCase {
  const char* name;
  std::uint32_t pc;
  const char* transition_reported;  // what the device reports after the transition image
  const char* box;                  // what the user is told then, or null
};

class ListenerStages : public ListenerThread, public ::testing::WithParamInterface<StagesCase> {};

// A transition stage that fails on its own is reported, and the target image is served all the same.
// Only the device named is served, each image under its own name only.
TEST_P(ListenerStages, ServesTheTransitionImageThenTheTargetOnTheSamePort) {
  if (!test::loopback_sources_kept()) GTEST_SKIP() << test::LOOPBACK_SOURCES_LOST;
  const StagesCase& c = GetParam();
  const std::uint32_t device = c.pc + 1;
  test::HttpTestServer http(DEVICE_HTTP_PORT, device);
  if (!http.ok()) GTEST_SKIP() << "port 80 cannot be bound here";
  http.set_handler([&](const test::HttpRequestRecord&, std::size_t) {
    return status_page(run_.upgrade_stage.load() == 0 ? c.transition_reported : "3.2.1");
  });
  run_.timing.verify_attempts = 1;
  if (!start(c.pc, "/qor11.bi0")) GTEST_SKIP() << "low ports need privilege";
  Window first = fake_->wait_for(IDD_WAITING);
  TftpTestPeer stranger(c.pc + 2);  // knows the name, and asks first
  stranger.aim(c.pc, port_);
  stranger.send_rrq("/qor11.bi0");
  EXPECT_TRUE(stranger.drain(150ms).empty());
  device_.send_rrq("/qor11.bi0");
  Bytes first_image;
  ASSERT_TRUE(fetch(device_, first_image, port_));
  EXPECT_EQ(first_image, transition_bytes_);

  Window second = fake_->wait_for(IDD_WAITING, 1);
  ASSERT_NE(second, Window::none);
  EXPECT_EQ(run_.upgrade_stage.load(), 1);
  EXPECT_FALSE(trap_.ended());
  EXPECT_EQ(box_texts(), c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
  if (c.box) {
    EXPECT_LT(event_index("destroy 110"), event_index(std::string("box ") + c.box));
  }
  EXPECT_LT(event_index("destroy 114"), event_index("create 110"));
  // The explanation is shown in the first waiting window only.
  EXPECT_EQ(fake_->last_state(first).controls[waiting_ids::TEXT].text, texts::WAITING_HELP);
  EXPECT_EQ(fake_->last_state(second).controls[waiting_ids::TEXT].text, "");

  device_.send_rrq("/qor11.bi0");  // repeated before the target's name is announced
  EXPECT_TRUE(device_.drain(150ms).empty());
  run_.tftp_filename.set("/qor22.bi1");
  device_.send_rrq("/qor11.bi0");
  stranger.send_rrq("/qor22.bi1");
  EXPECT_TRUE(device_.drain(150ms).empty());
  EXPECT_TRUE(stranger.drain(1ms).empty());
  device_.send_rrq("/qor22.bi1");
  Bytes second_image;
  ASSERT_TRUE(fetch(device_, second_image, port_));
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(second_image, target_bytes_);
  EXPECT_EQ(run_.outcome.load(), Outcome::upgraded);
  EXPECT_GE(event_index("show 111"), 0);
  EXPECT_EQ(box_texts().size(), c.box ? 1u : 0u);
  EXPECT_EQ(http.request_count(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Transition, ListenerStages,
                         ::testing::Values(StagesCase{"Verified", 0x7F002301, "3.0.5", nullptr},
                                           StagesCase{"NotMatching", 0x7F002311, "3.2.9",
                                                      texts::VERSION_NOT_MATCHING}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CancelCase {
  const char* name;
  std::uint32_t pc;
  int window;    // the one Cancel is pressed in
  bool fetched;  // the device has fetched the whole image: Cancel comes in the settling wait
};

class ListenerCancel : public ListenerThread, public ::testing::WithParamInterface<CancelCase> {};

// Cancel ends the run, also in the transition stage: nothing is served after it.
TEST_P(ListenerCancel, CancelEndsTheRun) {
  const CancelCase& c = GetParam();
  if (c.window == IDD_UPLOAD && !test::loopback_sources_kept()) GTEST_SKIP() << test::LOOPBACK_SOURCES_LOST;
  run_.timing.settle_steps = 100000;  // only Cancel can end this wait
  if (!start(c.pc, "/qor11.bi0")) GTEST_SKIP() << "low ports need privilege";
  Window w = fake_->wait_for(IDD_WAITING);
  if (c.window == IDD_UPLOAD) {
    device_.send_rrq("/qor11.bi0");
    Bytes received;
    if (c.fetched)
      ASSERT_TRUE(fetch(device_, received));
    else
      ASSERT_TRUE(device_.receive());  // the OACK; the device then falls silent
    w = fake_->wait_for(IDD_UPLOAD);
  }
  fake_->click(w, IDCANCEL);
  ASSERT_TRUE(trap_.wait());
  EXPECT_EQ(trap_.code(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{texts::USER_ABORT});
  EXPECT_LT(event_index("destroy " + std::to_string(c.window)),
            event_index(std::string("box ") + texts::USER_ABORT));
  EXPECT_EQ(run_.outcome.load(), Outcome::user_abort);
  EXPECT_EQ(fake_->wait_for(IDD_WAITING, 1, 100ms), Window::none);
}

INSTANTIATE_TEST_SUITE_P(In, ListenerCancel,
                         ::testing::Values(CancelCase{"WaitingWindow", 0x7F002401, IDD_WAITING, false},
                                           CancelCase{"TransitionTransfer", 0x7F002411, IDD_UPLOAD, false},
                                           CancelCase{"TransitionSettlingWait", 0x7F002421, IDD_UPLOAD,
                                                      true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
