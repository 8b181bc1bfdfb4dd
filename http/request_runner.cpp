#include "http/request_runner.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "base/process.h"
#include "base/text.h"
#include "base/trace.h"
#include "net/clock.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

namespace {

// What one attempt owns, shared by the runner and its worker: whichever ends first (the runner may
// give up on a worker that still waits on the network) leaves the other a live record. The worker
// touches nothing else but the run's Digest state, which it keeps alive too.
struct DeviceRequest {
  RequestJob job{};
  std::string path;
  std::shared_ptr<SharedDigest> digest;
  DeviceInfo info{};
  std::unique_ptr<char[]> page_buffer = std::make_unique<char[]>(PAGE_BUFFER_SIZE);
  RequestResult result;
  std::atomic<bool> finished{false};
};

// The connecting window's record.
struct ConnectingState {
  const char* device_address_text;
  bool cancelled = false;
};

// The activity bar; it carries on across the attempts of one call.
struct BarState {
  int position = 0;
  int passes = 0;
};

struct ConnectingWindow {
  ConnectingState state;
  Window window;
  explicit ConnectingWindow(const char* address_text)
      : state{address_text},
        window(toolkit().create_dialog(IDD_CONNECTING, connecting_dialog_proc,
                                       reinterpret_cast<std::intptr_t>(&state))) {}
  ~ConnectingWindow() {
    if (window != Window::none && !state.cancelled) toolkit().destroy_window(window);
  }
};

void wait_pass(Window window, BarState& bar, unsigned poll_ms) {
  if (window != Window::none) toolkit().pump_one(window);
  sleep_ms(poll_ms);
  if (++bar.passes < BAR_PASSES_PER_STEP) return;
  if (window != Window::none) toolkit().progress_pos(window, IDC_PROGRESS, bar.position);
  if (++bar.position > BAR_MAX) bar.position = 0;
  bar.passes = 0;
}

RequestResult request_worker(DeviceRequest& r) {
  debug_trace("HTTP %x:%u to %x:%u", r.job.bind_address, r.job.bind_port_base, r.job.remote_address,
              r.job.remote_port);
  return fetch_device_page(r.job, r.page_buffer.get(), PAGE_CAPACITY, *r.digest, r.info);
}

RequestResult run_attempt(UpgradeRun& run, const RequestJob& job, DeviceInfo& info, BarState& bar) {
  ConnectingWindow connecting(run.device_address_text);
  auto request = std::make_shared<DeviceRequest>();
  request->job = job;
  request->path = job.path ? job.path : "/";
  request->job.path = request->path.c_str();
  request->digest = run.digest;
  request->info = info;
  try {
    start_core_thread([request] {
      request->result = request_worker(*request);
      request->finished.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    debug_trace("request worker not started\n");
    return {};  // as if the device had not answered: the caller reports it
  }
  while (!request->finished.load(std::memory_order_acquire)) {
    if (run_ending()) end_run();  // another thread ended the run (the listener, or a test)
    wait_pass(connecting.window, bar, run.timing.runner_poll_ms);
    if (connecting.state.cancelled) return {Outcome::user_abort, 0};
  }
  if (request->result.received >= 0) info = request->info;
  return request->result;
}

// A refusal under a new nonce, with credentials at hand, is answered once without asking.
bool may_repeat_quietly(SharedDigest& digest, int quick_repeats) {
  std::lock_guard lock(digest.mutex);
  return digest.state.password[0] && digest.state.nonce_count == 0 && quick_repeats == 0;
}

}  // namespace

RequestResult run_device_request(UpgradeRun& run, const RequestJob& job, DeviceInfo& info) {
  BarState bar;
  int quick_repeats = 0;
  for (;;) {
    RequestResult result = run_attempt(run, job, info, bar);
    if (result.failure != Outcome::none || result.received >= 0) return result;
    if (may_repeat_quietly(*run.digest, quick_repeats)) {
      quick_repeats = 1;
      continue;
    }
    if (toolkit().dialog_box(IDD_PASSWORD, password_dialog_proc,
                             reinterpret_cast<std::intptr_t>(run.digest.get())) != IDOK)
      return {Outcome::user_abort, 0};
    quick_repeats = 0;
  }
}

std::intptr_t connecting_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam) {
  auto& state = dialog_record<ConnectingState>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    char title[80];
    std::snprintf(title, sizeof title, texts::CONNECTING_TITLE_FORMAT, state.device_address_text);
    toolkit().set_window_text(window, title);
    center_window(window);
    toolkit().progress_range(window, IDC_PROGRESS, 0, BAR_MAX);
    return 1;
  }
  if (message == MSG_COMMAND && command_id(wparam) == IDCANCEL) {
    // The runner reports the abort once the window is gone. The worker is not stopped: it ends with the
    // run, or when the device gives up.
    toolkit().destroy_window(window);
    state.cancelled = true;
    return 1;
  }
  return 0;
}

std::intptr_t password_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam) {
  auto& digest = dialog_record<SharedDigest>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    toolkit().set_item_text(window, password_ids::HELP, texts::PASSWORD_HELP);
    toolkit().set_item_text(window, password_ids::USERNAME, texts::DEFAULT_USER);
    toolkit().set_focus(window, password_ids::PASSWORD);
    center_window(window);
    return 0;  // the focus stays on the password
  }
  if (message != MSG_COMMAND) return 0;
  if (command_id(wparam) == IDOK) {
    char username[CREDENTIAL_LIMIT];
    char password[CREDENTIAL_LIMIT];
    toolkit().get_item_text(window, password_ids::USERNAME, username, CREDENTIAL_LIMIT);
    toolkit().get_item_text(window, password_ids::PASSWORD, password, CREDENTIAL_LIMIT);
    {
      std::lock_guard lock(digest.mutex);
      copy_text(digest.state.username, sizeof digest.state.username, username);
      copy_text(digest.state.password, sizeof digest.state.password, password);
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
