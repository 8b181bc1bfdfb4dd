#include "http/request_runner.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "app/process.h"
#include "app/timing.h"
#include "net/clock.h"
#include "ui/dialog_templates.h"
#include "ui/error_box.h"

namespace qor {

const char* const PASSWORD_HELP_TEXT =
    "This QOR requires a password in order to be\r\nupgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\nService Provider or network administrator,\r\n"
    "before proceeding.\r\n\r\nYou must provide the QOR administrator's\r\npassword to upgrade. If you "
    "are the administrator\r\nand forgot the password, you may perform a\r\nfactory reset by entering "
    "* * * *, option 52914#,\r\nand value 1 from a telephone connected to the\r\nunit to be "
    "upgraded.\r\n\r\n* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\nAll settings will revert "
    "to default values\r\nafter factory reset!  You may not be able to\r\nreestablish service after "
    "completing this upgrade\r\nwithout first reentering service configuration\r\ninformation.";

namespace {

constexpr const char* USER_ABORT = "Upgrade Failed: User Abort";

// Shared by the runner and its worker: whichever ends first (the runner may be unwound by the end of
// the process while the worker still waits on the network) leaves the other a live record.
struct WorkerState {
  RequestJob job{};
  std::string path;  // the caller's text may be gone before a worker stuck in connect reads it
  std::int32_t result = 0;
  std::atomic<bool> finished{false};
};

// The activity bar; it carries on across the attempts of one call.
struct BarState {
  int position = 0;
  int passes = 0;
};

struct ConnectingWindow {
  Window window = toolkit().create_dialog(IDD_CONNECTING, connecting_dialog_proc);
  ~ConnectingWindow() {
    if (window != Window::none) toolkit().destroy_window(window);
  }
};

void wait_pass(Window window, BarState& bar) {
  if (window != Window::none) toolkit().pump_one(window);
  sleep_ms(timing.runner_poll_ms);
  if (++bar.passes < BAR_PASSES_PER_STEP) return;
  if (window != Window::none) toolkit().progress_pos(window, IDC_PROGRESS, bar.position);
  if (++bar.position > BAR_MAX) bar.position = 0;
  bar.passes = 0;
}

std::int32_t run_attempt(const RequestJob& job, BarState& bar) {
  ConnectingWindow connecting;
  auto state = std::make_shared<WorkerState>();
  state->job = job;
  state->path = job.path ? job.path : "/";
  state->job.path = state->path.c_str();
  try {
    start_core_thread([state] {
      state->result = request_worker(&state->job);
      state->finished.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    debug_trace("request worker not started\n");
    return 0;  // as if the device had not answered: the caller reports it
  }
  while (!state->finished.load(std::memory_order_acquire)) {
    if (process_ending()) end_process(0);  // another thread ended the run (the worker, or a test)
    wait_pass(connecting.window, bar);
  }
  return state->result;
}

// A refusal under a new nonce, with credentials at hand, is answered once without asking.
bool may_repeat_quietly(int quick_repeats) {
  std::lock_guard lock(request_mutex());
  return digest_state.password[0] && digest_state.nonce_count == 0 && quick_repeats == 0;
}

}  // namespace

std::int32_t run_device_request(RequestJob job) {
  BarState bar;
  int quick_repeats = 0;
  for (;;) {
    std::int32_t result = run_attempt(job, bar);
    if (result >= 0) return result;
    if (may_repeat_quietly(quick_repeats)) {
      quick_repeats = 1;
      continue;
    }
    if (toolkit().dialog_box(IDD_PASSWORD, password_dialog_proc) != IDOK) fail_upgrade(USER_ABORT);
    quick_repeats = 0;
  }
}

std::intptr_t connecting_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    char title[80];
    std::snprintf(title, sizeof title, "Connecting with QOR@%s", device_address_text);
    toolkit().set_window_text(window, title);
    center_window(window);
    toolkit().progress_range(window, IDC_PROGRESS, 0, BAR_MAX);
    return 1;
  }
  if (message == MSG_COMMAND && command_id(wparam) == IDCANCEL) {
    toolkit().destroy_window(window);
    fail_upgrade(USER_ABORT);
  }
  return 0;
}

std::intptr_t password_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    toolkit().set_item_text(window, IDC_MAIN_TEXT, PASSWORD_HELP_TEXT);
    toolkit().set_item_text(window, IDC_USERNAME, "admin");
    toolkit().set_focus(window, IDC_PASSWORD);
    center_window(window);
    return 0;  // the focus stays on the password
  }
  if (message != MSG_COMMAND) return 0;
  if (command_id(wparam) == IDOK) {
    char username[CREDENTIAL_LIMIT];
    char password[CREDENTIAL_LIMIT];
    toolkit().get_item_text(window, IDC_USERNAME, username, CREDENTIAL_LIMIT);
    toolkit().get_item_text(window, IDC_PASSWORD, password, CREDENTIAL_LIMIT);
    {
      // The TFTP listener's verification may be requesting right now.
      std::lock_guard lock(request_mutex());
      copy_text(digest_state.username, sizeof digest_state.username, username);
      copy_text(digest_state.password, sizeof digest_state.password, password);
    }
    toolkit().end_dialog(window, 1);
    return 1;
  }
  if (command_id(wparam) == IDCANCEL) {
    toolkit().end_dialog(window, 0);
    return 1;
  }
  return 0;
}

}  // namespace qor
