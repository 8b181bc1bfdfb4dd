// The upgrade sequence on its own: dialogs through the fake toolkit, the device request and the TFTP
// listener replaced by recorders.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/firmware.h"
#include "app/globals.h"
#include "app/process.h"
#include "app/upgrade.h"
#include "tests/support/fake_toolkit.h"
#include "ui/dialog_templates.h"

namespace qor {
namespace {

std::mutex recorded_mutex;
std::vector<std::string> requests;
int listener_starts = 0;
std::int32_t status_reply = 1000;
const char* reported_version = "3.0.0";
bool transfer_during_trigger = false;  // the device answers the upgrade request only after the transfer

std::int32_t record_request(RequestJob job) {
  std::lock_guard lock(recorded_mutex);
  requests.emplace_back(job.path);
  if (std::strcmp(job.path, STATUS_PAGE_PATH) == 0) {
    copy_text(device_info.software_version, sizeof device_info.software_version, reported_version);
    return status_reply;
  }
  if (transfer_during_trigger) upgrade_stage.store(1);
  return 10;
}

std::uint16_t record_listener(std::uint32_t) {
  std::lock_guard lock(recorded_mutex);
  ++listener_starts;
  return 70;
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
    std::memset(&device_info, 0, sizeof device_info);
    std::memset(local_addresses, 0, sizeof local_addresses);
    local_addresses[0] = 0x7F000001;
    local_address = 0x7F000001;
    saved_transition_ = transition_image;
    std::memset(transition_image.header, 0, sizeof transition_image.header);
    std::strcpy(reinterpret_cast<char*>(transition_image.header) + IMAGE_VERSION_OFFSET, "3.0.5");
    phone_variant = 0;
    set_sequence_operations(&recorders);
    fake_->on_show(IDD_WARNING, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
    fake_->on_show(IDD_ADDRESS, [](test::FakeToolkit& f, Window w) {
      f.type(w, 1000, "127.0.0.2");
      f.click(w, IDOK);
    });
  }
  void TearDown() override {
    if (runner_.joinable()) {
      end_run();
      runner_.join();
    }
    set_sequence_operations(nullptr);
    transition_image = saved_transition_;
    upgrade_stage.store(1);
  }

  // Runs the sequence on a thread of its own, as the GUI front end does.
  void start(std::int32_t stage) {
    upgrade_stage.store(stage);
    runner_ = std::thread([this] {
      try {
        run_upgrade_sequence();
        returned_ = true;
      } catch (const ProcessExit&) {
      }
    });
  }
  void finish() { runner_.join(); }
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
    for (int i = 0; i < 2000; ++i) {
      if (recorded_requests().size() >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  test::ScopedFakeToolkit fake_;
  test::ExitTrap trap_;
  std::thread runner_;
  std::atomic<bool> returned_{false};
  FirmwareImage saved_transition_{};
};

TEST_F(Sequence, CancelOnWarningOrAddressEndsSilently) {
  fake_->on_show(IDD_WARNING, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(1);
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_EQ(fake_->shown_templates(), std::vector<int>{IDD_WARNING});
  EXPECT_TRUE(fake_->message_boxes().empty());

  fake_->on_show(IDD_WARNING, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  fake_->on_show(IDD_ADDRESS, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(1);
  finish();
  EXPECT_TRUE(returned_);
  EXPECT_TRUE(fake_->message_boxes().empty());
  EXPECT_TRUE(recorded_requests().empty());
}

TEST_F(Sequence, PhoneVariantAsksWithTheirAddressDialog) {
  phone_variant = 1;
  fake_->on_show(IDD_ADDRESS_PHONE, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(1);
  finish();
  EXPECT_EQ(fake_->shown_templates(), (std::vector<int>{IDD_WARNING, IDD_ADDRESS_PHONE}));
}

TEST_F(Sequence, NoReplyToTheStatusRequestIsReported) {
  status_reply = 0;
  start(1);
  finish();
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, "Upgrade Failed: No Response From QOR");
  EXPECT_EQ(fake_->message_boxes()[0].caption, "QOR Firwmare Upgrade Error");
  EXPECT_EQ(listener_starts, 0);
}

TEST_F(Sequence, DecliningTheConfirmationIsAUserAbort) {
  fake_->on_show(IDD_CONFIRM, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
  start(1);
  finish();
  ASSERT_EQ(fake_->message_boxes().size(), 1u);
  EXPECT_EQ(fake_->message_boxes()[0].text, "Upgrade Failed: User Abort");
  EXPECT_EQ(listener_starts, 0);
  EXPECT_EQ(recorded_requests(), std::vector<std::string>{"/admin/advanced"});
}

TEST_F(Sequence, TargetStageSendsOneUpgradeRequestAndWaits) {
  fake_->on_show(IDD_CONFIRM, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  start(1);
  ASSERT_TRUE(wait_requests(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto sent = recorded_requests();
  ASSERT_EQ(sent.size(), 2u);
  char name[128];
  get_tftp_filename(name, sizeof name);
  EXPECT_EQ(sent[1], std::string("/admin/upgrade?tftp://127.0.0.1:70") + name);
  EXPECT_EQ(listener_starts, 1);
  EXPECT_EQ(fake_->shown_templates(), (std::vector<int>{IDD_WARNING, IDD_ADDRESS, IDD_CONFIRM}));
  EXPECT_FALSE(returned_);  // the main thread only waits now
  end_run();
  finish();
  EXPECT_FALSE(returned_);
}

TEST_F(Sequence, OldDeviceGetsTheTransitionImageFirst) {
  fake_->on_show(IDD_CONFIRM_TRANSITION, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  start(0);
  ASSERT_TRUE(wait_requests(2));
  char first[128];
  get_tftp_filename(first, sizeof first);
  EXPECT_NE(std::string(first).find(".bi0"), std::string::npos);
  EXPECT_EQ(upgrade_stage.load(), 0);
  upgrade_stage.store(1);  // what the listener thread does after the transition transfer
  ASSERT_TRUE(wait_requests(3));
  auto sent = recorded_requests();
  char second[128];
  get_tftp_filename(second, sizeof second);
  std::string name(second);
  ASSERT_EQ(name.rfind("/qor", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".bi1");
  EXPECT_EQ(sent[2], "/admin/upgrade?tftp://127.0.0.1:70" + name);
  EXPECT_EQ(listener_starts, 1);
}

TEST_F(Sequence, SecondRequestIsSentEvenWhenTheFirstWasAnsweredAfterTheTransfer) {
  transfer_during_trigger = true;
  fake_->on_show(IDD_CONFIRM_TRANSITION, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
  start(0);
  ASSERT_TRUE(wait_requests(3));
  auto sent = recorded_requests();
  EXPECT_NE(sent[1].find(".bi0"), std::string::npos);
  EXPECT_NE(sent[2].find(".bi1"), std::string::npos);
}

TEST_F(Sequence, StageDecisionPicksTheConfirmDialog) {
  struct Case {
    const char* version;
    int dialog;
  } cases[] = {{"3.0.5", IDD_CONFIRM}, {"3.1", IDD_CONFIRM_TRANSITION}, {"9.9.9(NT", IDD_CONFIRM_TRANSITION}};
  for (const Case& c : cases) {
    reported_version = c.version;
    fake_->on_show(c.dialog, [](test::FakeToolkit& f, Window w) { f.click(w, IDCANCEL); });
    start(0);
    finish();
    EXPECT_EQ(fake_->shown_templates().back(), c.dialog) << c.version;
  }
}

}  // namespace
}  // namespace qor
