// The per-thread rules of the dialog manager and the shared helpers of the error box.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/trace.h"
#include "tests/support/fake_toolkit.h"
#include "ui/dialog_templates.h"
#include "ui/error_box.h"

namespace qor {
namespace {

std::atomic<std::thread::id> proc_thread;
std::atomic<int> commands_seen{0};

std::intptr_t recording_proc(Window w, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  proc_thread.store(std::this_thread::get_id());
  if (message == MSG_INITDIALOG) {
    toolkit().set_window_text(w, "opened");
    return 1;
  }
  if (message == MSG_COMMAND) {
    ++commands_seen;
    if (command_id(wparam) == IDOK) toolkit().end_dialog(w, 7);
    if (command_id(wparam) == IDCANCEL) toolkit().end_dialog(w, 0);
    return 1;
  }
  return 0;
}

TEST(DialogManager, ModalDialogRunsItsProcedureOnTheCallingThreadAndReturnsItsEndValue) {
  test::ScopedFakeToolkit fake;
  std::thread::id owner;
  std::intptr_t result = -5;
  std::thread owner_thread([&] {
    owner = std::this_thread::get_id();
    result = toolkit().dialog_box(IDD_WARNING, recording_proc);
  });
  Window w = fake->wait_for(IDD_WARNING);
  ASSERT_NE(w, Window::none);
  EXPECT_EQ(fake->snapshot(w)->title, "opened");
  fake->click(w, IDOK);  // from the test thread, as a GUI thread would
  owner_thread.join();
  EXPECT_EQ(result, 7);
  EXPECT_EQ(proc_thread.load(), owner);
  EXPECT_FALSE(fake->snapshot(w).has_value());
}

TEST(DialogManager, ModelessClicksWaitForTheOwnersPump) {
  test::ScopedFakeToolkit fake;
  commands_seen = 0;
  Window w = toolkit().create_dialog(IDD_WARNING, recording_proc);
  ASSERT_NE(w, Window::none);
  fake->click(w, warning_ids::TEXT);
  fake->click(w, warning_ids::TEXT);
  EXPECT_EQ(commands_seen.load(), 0);                               // nothing runs until the owner pumps
  std::thread other([&] { EXPECT_FALSE(toolkit().pump_one(w)); });  // nor on another thread
  other.join();
  EXPECT_TRUE(toolkit().pump_one(w));
  EXPECT_EQ(commands_seen.load(), 1);
  toolkit().pump_all(w);
  EXPECT_EQ(commands_seen.load(), 2);
  EXPECT_FALSE(toolkit().pump_one(w));
  toolkit().destroy_window(w);
  EXPECT_FALSE(fake->snapshot(w).has_value());
  fake->click(w, IDOK);  // a click on a destroyed window goes nowhere
}

TEST(DialogManager, ControlTextIsReadWithAByteLimit) {
  test::ScopedFakeToolkit fake;
  Window w = toolkit().create_dialog(IDD_WARNING, recording_proc);
  fake->type(w, 1021, "0123456789");
  char buffer[5];
  EXPECT_EQ(toolkit().get_item_text(w, 1021, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "0123");
  EXPECT_EQ(toolkit().get_item_text(w, 1021, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  toolkit().destroy_window(w);
}

TEST(DialogManager, UnknownTemplateOpensNothing) {
  test::ScopedFakeToolkit fake;
  EXPECT_EQ(toolkit().create_dialog(4242, recording_proc), Window::none);
  EXPECT_EQ(toolkit().dialog_box(4242, recording_proc), -1);
}

TEST(ErrorBox, DefaultCaptionTaskModalOkOnly) {
  test::ScopedFakeToolkit fake;
  EXPECT_EQ(show_error("Upgrade Failed: Test"), IDOK);
  show_error("other", "Mine");
  auto boxes = fake->message_boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Upgrade Failed: Test");
  EXPECT_EQ(boxes[0].caption, "QOR Firwmare Upgrade Error");
  EXPECT_EQ(boxes[0].flags, MB_OK | MB_TASKMODAL);
  EXPECT_EQ(boxes[0].owner, Window::none);
  EXPECT_EQ(boxes[1].caption, "Mine");
}

TEST(CenterWindow, FloorOfHalfTheDifference) {
  EXPECT_EQ(centered_origin(1024, 0, 300), 362);
  EXPECT_EQ(centered_origin(1024, 500, 800), 362);  // only the extent counts, not the old position
  EXPECT_EQ(centered_origin(1024, 0, 301), 361);
  EXPECT_EQ(centered_origin(1024, 0, 1124), -50);  // overhangs both sides equally
  EXPECT_EQ(centered_origin(1024, 0, 1125), -51);  // floor, not truncation toward zero
  EXPECT_EQ(centered_origin(1024, 0, 1025), -1);
}

TEST(CenterWindow, MovesTheWindowAndKeepsItsSize) {
  test::ScopedFakeToolkit fake;
  fake->set_screen({1024, 768});
  Window w = toolkit().create_dialog(IDD_WARNING, recording_proc);
  ScreenRect before{};
  ASSERT_TRUE(toolkit().get_window_rect(w, before));
  center_window(w);
  ScreenRect after{};
  ASSERT_TRUE(toolkit().get_window_rect(w, after));
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  EXPECT_EQ(after.left, (1024 - (before.right - before.left)) >> 1);
  toolkit().destroy_window(w);
  center_window(w);  // a window whose rectangle cannot be read stays where it is: no crash, no move
}

TEST(DebugTrace, DiscardsUnlessASinkIsInstalled) {
  static std::string seen;
  debug_trace("Client IP = %x\n", 0x0100007Fu);
  EXPECT_TRUE(seen.empty());
  set_trace_sink([](const char* line) { seen += line; });
  debug_trace("Send block %d (%d)\n", 3, 512);
  set_trace_sink(nullptr);
  EXPECT_EQ(seen, "Send block 3 (512)\n");
}

// An interrupt from the terminal is never lost: whatever window is open when it comes, or opens later,
// is cancelled; an answer already queued in a modal dialog still stands.
TEST(DialogManager, CancelEverythingReachesEveryWindowOpenNowOrLater) {
  test::ScopedFakeToolkit fake;
  DialogManager& manager = fake->manager();
  commands_seen = 0;

  Window open_before = toolkit().create_dialog(IDD_UPLOAD, recording_proc);
  Window closing = toolkit().create_dialog(IDD_CONNECTING, recording_proc);
  std::intptr_t answered = -1;
  std::thread modal([&] {
    fake->on_show(IDD_WARNING, [](test::FakeToolkit& f, Window w) { f.click(w, IDOK); });
    answered = toolkit().dialog_box(IDD_WARNING, recording_proc);
  });
  modal.join();
  manager.cancel_everything();
  toolkit().destroy_window(closing);  // gone with the cancel still queued
  EXPECT_TRUE(toolkit().pump_one(open_before));

  fake->on_show(IDD_CONFIRM, nullptr);
  EXPECT_EQ(toolkit().dialog_box(IDD_CONFIRM, recording_proc), 0);  // opened afterwards, nobody clicks
  Window later = toolkit().create_dialog(IDD_WAITING, recording_proc);
  EXPECT_TRUE(toolkit().pump_one(later));
  EXPECT_EQ(answered, 7);
  EXPECT_TRUE(manager.cancelling());
}

}  // namespace
}  // namespace qor
