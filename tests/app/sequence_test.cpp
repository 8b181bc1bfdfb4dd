// The upgrade sequence on its own: dialogs through the fake toolkit, the device request and the TFTP
// listener replaced by recorders.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/report.h"
#include "app/serve.h"
#include "app/upgrade.h"
#include "base/process.h"
#include "base/text.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/http_test_server.h"

namespace qor {
namespace {

std::mutex recorded_mutex;
std::vector<std::string> requests;
int listener_starts = 0;
std::int32_t status_reply = 1000;
const char* reported_version = "3.0.0";
bool transfer_during_trigger = false;  // the device answers the upgrade request only after the transfer
enum class Interrupt { never, before_the_first_window, during_status_request, while_the_listener_binds };
Interrupt interrupt_at = Interrupt::never;

// Ctrl-C in a terminal, between two windows.
void interrupt() {
  static_cast<DialogManager&>(toolkit()).cancel_everything();
}

RequestResult record_request(UpgradeRun& run, const RequestJob& job, DeviceInfo& info) {
  std::lock_guard lock(recorded_mutex);
  requests.emplace_back(job.path);
  if (std::strcmp(job.path, STATUS_PAGE_PATH) == 0) {
    if (interrupt_at == Interrupt::during_status_request) interrupt();
    copy_text(info.software_version, sizeof info.software_version, reported_version);
    return {Outcome::none, status_reply};
  }
  if (transfer_during_trigger) run.upgrade_stage.store(1);
  return {Outcome::none, 10};
}

Outcome record_listener(UpgradeRun& run, std::uint16_t& port) {
  {
    std::lock_guard lock(recorded_mutex);
    ++listener_starts;
  }
  if (interrupt_at == Interrupt::while_the_listener_binds) {
    interrupt();
    return start_tftp_listener(run, port);  // its waiting window opens afterwards
  }
  port = 70;
  return Outcome::none;
}

const SequenceOperations recorders{&record_request, &record_listener};

std::vector<std::string> recorded_requests() {
  std::lock_guard lock(recorded_mutex);
  return requests;
}

class Sequence : public ::testing::Test {
 protected:
  void SetUp() override {
    requests.clear();
    listener_starts = 0;
    status_reply = 1000;
    reported_version = "3.0.0";
    transfer_during_trigger = false;
    interrupt_at = Interrupt::never;
    fake_->agree_to_everything("127.0.0.2");
  }
  void TearDown() override {
    if (!runner_.done()) end_run();  // a sequence that only waits for the run's end
  }

  // Runs the sequence on a thread of its own, as the GUI front end does, with a fresh run record.
  void start(std::int32_t stage) {
    run_ = std::make_unique<UpgradeRun>();
    run_->local_addresses[0] = 0x7F000001;
    run_->local_address = 0x7F000001;
    set_image_version(run_->transition_image, "3.0.5");
    run_->phone_variant = phone_variant_;
    run_->upgrade_stage.store(stage);
    runner_.start([this] { return run_upgrade_sequence(*run_, recorders); });
  }
  std::string tftp_filename() const {
    char name[128];
    run_->tftp_filename.get(name, sizeof name);
    return name;
  }
  Outcome finish() { return runner_.finish(); }
  // Ends the run as the listener thread would, from a thread of its own.
  void end_run() {
    std::thread([] {
      try {
        end_process(0);
      } catch (const ProcessExit&) {
      }
    }).join();
  }
  bool wait_requests(std::size_t n) {
    return test::eventually([n] { return recorded_requests().size() >= n; });
  }

  test::ScopedFakeToolkit fake_;
  test::ExitTrap trap_;
  std::unique_ptr<UpgradeRun> run_;
  std::int32_t phone_variant_ = 0;
  test::CoreThread runner_{*fake_};
};

// Runs that end before the listener starts: the sequence returns, and only what came before is sent.
struct EarlyEnd {
  const char* name;
  std::int32_t phone, stage;
  const char* reported;  // the device's version, when it answers at all
  int cancelled;         // the dialog the user cancels, or 0
  Outcome outcome;
  std::vector<int> shown;
};

class SequenceEnds : public Sequence, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(SequenceEnds, BeforeTheListenerStarts) {
  const EarlyEnd& c = GetParam();
  phone_variant_ = c.phone;
  reported_version = c.reported ? c.reported : "";
  if (!c.reported) status_reply = 0;
  if (c.cancelled) fake_->on_show(c.cancelled, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(c.stage);
  EXPECT_EQ(finish(), c.outcome);
  EXPECT_FALSE(runner_.ended());
  EXPECT_EQ(fake_->shown_templates(), c.shown);
  const bool addressed = c.shown.size() > 2 || c.cancelled == 0;  // the status request went out
  EXPECT_EQ(recorded_requests(), std::vector<std::string>(addressed ? 1 : 0, "/admin/advanced"));
  EXPECT_EQ(listener_starts, 0);
}

constexpr int W = IDD_WARNING, A = IDD_ADDRESS, P = IDD_ADDRESS_PHONE, C = IDD_CONFIRM,
              T = IDD_CONFIRM_TRANSITION;
INSTANTIATE_TEST_SUITE_P(
    Runs, SequenceEnds,
    ::testing::Values(EarlyEnd{"CancelOnTheWarning", 0, 1, "3.0.0", W, Outcome::declined, {W}},
                      EarlyEnd{"CancelOnTheAddress", 0, 1, "3.0.0", A, Outcome::declined, {W, A}},
                      EarlyEnd{"PhoneAddress", 1, 1, "3.0.0", P, Outcome::declined, {W, P}},
                      EarlyEnd{"NoReplyToTheStatusRequest", 0, 1, nullptr, 0, Outcome::no_response, {W, A}},
                      EarlyEnd{"ConfirmationDeclined", 0, 1, "3.0.0", C, Outcome::user_abort, {W, A, C}},
                      // The device's version picks the confirmation of the stage to come.
                      EarlyEnd{"TransitionVersion", 0, 0, "3.0.5", C, Outcome::user_abort, {W, A, C}},
                      EarlyEnd{"OlderVersion", 0, 0, "3.1", T, Outcome::user_abort, {W, A, T}},
                      EarlyEnd{"NonTargetBuild", 0, 0, "9.9.9(NT", T, Outcome::user_abort, {W, A, T}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Sequence, TargetStageSendsOneUpgradeRequestAndWaits) {
  start(1);
  ASSERT_TRUE(wait_requests(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto sent = recorded_requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], "/admin/upgrade?tftp://127.0.0.1:70" + tftp_filename());
  EXPECT_EQ(listener_starts, 1);
  EXPECT_EQ(fake_->shown_templates(), (std::vector<int>{IDD_WARNING, IDD_ADDRESS, IDD_CONFIRM}));
  EXPECT_FALSE(runner_.done());  // the main thread only waits now
  end_run();
  finish();
  EXPECT_TRUE(runner_.ended());
}

TEST_F(Sequence, OldDeviceGetsTheTransitionImageFirst) {
  start(0);
  ASSERT_TRUE(wait_requests(2));
  EXPECT_NE(tftp_filename().find(".bi0"), std::string::npos);
  EXPECT_EQ(run_->upgrade_stage.load(), 0);
  run_->upgrade_stage.store(1);  // what the listener thread does after the transition transfer
  ASSERT_TRUE(wait_requests(3));
  auto sent = recorded_requests();
  std::string name = tftp_filename();
  ASSERT_EQ(name.rfind("/qor", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".bi1");
  EXPECT_EQ(sent[2], "/admin/upgrade?tftp://127.0.0.1:70" + name);
  EXPECT_EQ(listener_starts, 1);
}

TEST_F(Sequence, SecondRequestIsSentEvenWhenTheFirstWasAnsweredAfterTheTransfer) {
  transfer_during_trigger = true;
  start(0);
  ASSERT_TRUE(wait_requests(3));
  auto sent = recorded_requests();
  EXPECT_NE(sent[1].find(".bi0"), std::string::npos);
  EXPECT_NE(sent[2].find(".bi1"), std::string::npos);
}

// A Ctrl-C that falls between two windows reaches the next one: the run ends as Cancel there ends it.
class SequenceInterrupt : public Sequence,
                          public ::testing::WithParamInterface<std::pair<Interrupt, Outcome>> {};

TEST_P(SequenceInterrupt, IsNeverLost) {
  const auto [when, outcome] = GetParam();
  if (when == Interrupt::while_the_listener_binds && !test::low_ports_allowed())
    GTEST_SKIP() << "the listener's port 69 needs privilege";
  interrupt_at = when;
  if (when == Interrupt::before_the_first_window) interrupt();
  start(1);
  if (when == Interrupt::while_the_listener_binds) {
    ASSERT_TRUE(trap_.wait());  // the listener's thread reports and ends the run
    EXPECT_EQ(fake_->message_boxes().back().text, "Upgrade Failed: User Abort");
  }
  const Outcome returned = finish();
  EXPECT_EQ(runner_.ended() ? run_->outcome.load() : returned, outcome);
}

INSTANTIATE_TEST_SUITE_P(Phases, SequenceInterrupt,
                         ::testing::Values(std::pair{Interrupt::before_the_first_window, Outcome::declined},
                                           std::pair{Interrupt::during_status_request, Outcome::user_abort},
                                           std::pair{Interrupt::while_the_listener_binds,
                                                     Outcome::user_abort}));

// What the user is told for each way a run can end: the system's texts, its caption, and nothing for
// the endings that are not failures.
TEST(Report, EachOutcomeHasTheSystemsMessage) {
  const struct {
    Outcome outcome;
    const char* message;
  } table[] = {
      {Outcome::none, nullptr},
      {Outcome::declined, nullptr},
      {Outcome::upgraded, nullptr},
      {Outcome::networking_failed, "Upgrade Failed: Winsock init error"},
      {Outcome::user_abort, "Upgrade Failed: User Abort"},
      {Outcome::no_response, "Upgrade Failed: No Response From QOR"},
      {Outcome::http_socket_failed, "Upgrade Failed: Can't open HTTP socket"},
      {Outcome::http_bind_failed, "Upgrade Failed: Can't bind HTTP socket"},
      {Outcome::listener_alloc_failed, "Upgrade Failed: Can't malloc for TFTP listener"},
      {Outcome::listener_socket_failed, "Upgrade Failed: Can't create TFTP listener socket"},
      {Outcome::listener_bind_failed, "Upgrade Failed: Can't bind TFTP listener socket"},
      {Outcome::session_alloc_failed, "Upgrade Failed: Can't malloc for TFTP session"},
      {Outcome::upload_incomplete, "Upgrade Failed: Firmware Upload Incomplete"},
      {Outcome::version_not_matching, "Upgrade Failed: Version not matching"},
  };
  for (const auto& row : table) {
    test::ScopedFakeToolkit fake;
    UpgradeRun run;
    report_outcome(run, row.outcome);
    auto boxes = fake->message_boxes();
    if (!row.message) {
      EXPECT_TRUE(boxes.empty()) << static_cast<int>(row.outcome);
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, row.message);
    EXPECT_EQ(boxes[0].caption, "QOR Firwmare Upgrade Error");
    EXPECT_EQ(boxes[0].owner, Window::none);
    EXPECT_EQ(run.outcome.load(), row.outcome);
  }
}

}  // namespace
}  // namespace qor
