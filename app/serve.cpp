#include "app/serve.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "app/report.h"
#include "base/process.h"
#include "base/trace.h"
#include "http/request_runner.h"
#include "net/clock.h"
#include "tftp/tftp_session.h"
#include "ui/dialogs.h"
#include "ui/texts.h"

namespace qor {

namespace {

// Failures after which the listener still goes on to the target stage: they concern the transition
// image alone, and the device may still take the target image.
bool stage_failure(Outcome outcome) {
  return outcome == Outcome::upload_incomplete || outcome == Outcome::version_not_matching ||
         outcome == Outcome::no_response;
}

}  // namespace

Outcome start_tftp_listener(UpgradeRun& run, std::uint16_t& port) {
  std::unique_ptr<TftpListener> listener(new (std::nothrow) TftpListener{});
  if (!listener) return Outcome::listener_alloc_failed;
  if (Outcome failed = open_tftp_listener(run.local_address, *listener); failed != Outcome::none)
    return failed;
  port = listener->port;
  try {
    // The record lives with the thread, which ends only with the run.
    start_core_thread([&run, owned = std::move(listener)]() mutable { tftp_listener_thread(run, *owned); });
  } catch (const std::system_error&) {
    debug_trace("listener thread not started\n");
    return Outcome::listener_alloc_failed;
  }
  return Outcome::none;
}

void tftp_listener_thread(UpgradeRun& run, TftpListener& listener) {
  for (bool first = true;; first = false) {
    TftpRequester requester{};
    Outcome waited =
        wait_for_read_request(listener, run.tftp_filename, run.device_address, first, run.timing, requester);
    if (waited != Outcome::none) finish_run(run, waited);
    Outcome served = run_tftp_session(run, listener, requester);
    if (run.upgrade_stage.load() != 0 || (served != Outcome::none && !stage_failure(served))) {
      report_outcome(run, served);
      listener.sock.close();
      end_run();
    }
    report_outcome(run, served);
    // The transition image's name is retired before the stage moves on: a request repeated under it
    // must not be answered with the target image. The sequence announces the target's name next.
    run.tftp_filename.set("");
    run.upgrade_stage.store(1);
  }
}

Outcome run_settling_wait(Window window, const bool& cancelled, const char* stage_name,
                          const UpgradeRun& run) {
  const Timing& timing = run.timing;
  const unsigned shift = std::clamp(timing.settle_shift, 1u, 31u);
  const std::uint32_t steps = timing.settle_steps;
  const std::uint32_t start = time_get_time() >> shift;
  toolkit().progress_range(window, IDC_PROGRESS, 0, static_cast<int>(steps));
  toolkit().progress_pos(window, IDC_PROGRESS, 0);
  char title[160];
  std::snprintf(title, sizeof title, texts::UPDATING_TITLE_FORMAT, stage_name, run.device_address_text);
  toolkit().set_window_text(window, title);
  for (;;) {
    std::uint32_t now = time_get_time() >> shift;
    if (now < start) now += 1u << (32 - shift);  // the millisecond clock has wrapped
    std::uint32_t passed = now - start;
    toolkit().progress_pos(window, IDC_PROGRESS, static_cast<int>(std::min(passed, steps)));
    toolkit().pump_all(window);
    if (cancelled) return Outcome::user_abort;
    if (run_ending()) end_run();
    if (passed >= steps) return Outcome::none;
    sleep_ms(timing.settle_sleep_ms);
  }
}

Outcome verify_upgrade(UpgradeRun& run, std::uint32_t local_addr, std::uint32_t device,
                       const FirmwareImage& image, std::int32_t stage) {
  // Only what the page says now counts: a page without the version label matches nothing.
  DeviceInfo info{};
  RequestResult result;
  for (unsigned attempt = 0; attempt < run.timing.verify_attempts && result.received <= 0; ++attempt) {
    result = run_device_request(
        run, {local_addr, HTTP_BIND_PORT_BASE, device, DEVICE_HTTP_PORT, STATUS_PAGE_PATH}, info);
    if (result.failure != Outcome::none) return result.failure;
  }
  if (result.received <= 0) return Outcome::no_response;
  run.device_info = info;
  const VersionText expected = version_of(image);
  debug_trace("[%d]%s %s\n", static_cast<int>(stage), expected.text, info.software_version);
  if (!run.phone_variant && std::strcmp(expected.text, info.software_version) != 0)
    return Outcome::version_not_matching;
  if (stage != 1) return Outcome::none;
  toolkit().dialog_box(IDD_SUCCESS, success_dialog_proc, reinterpret_cast<std::intptr_t>(&run));
  return Outcome::upgraded;
}

Outcome run_tftp_session(UpgradeRun& run, TftpListener& listener, const TftpRequester& requester) {
  std::unique_ptr<TftpSession> session(new (std::nothrow) TftpSession);
  if (!session) return Outcome::session_alloc_failed;
  const std::int32_t stage = run.upgrade_stage.load();
  const FirmwareImage& image = stage != 0 ? run.target_image : run.transition_image;
  const char* stage_name = stage != 0 ? texts::TARGET_STAGE : texts::TRANSITION_STAGE;
  init_tftp_session(*session, listener.sock.get(), listener.local_addr, requester.address, requester.port,
                    image.size, run.timing.max_intervals);

  // The upload window stays from the first packet to the end of the settling wait.
  TransferWindowState window_state;
  Window window = toolkit().create_dialog(IDD_UPLOAD, transfer_dialog_proc,
                                          reinterpret_cast<std::intptr_t>(&window_state));
  toolkit().progress_range(window, IDC_PROGRESS, 0, static_cast<int>(session->block_count & 0xFFFF));
  const UploadView view{window, &window_state, stage_name, run.device_address_text};
  const Outcome transfer = run_transfer(*session, image.data, view, run.timing);
  if (transfer == Outcome::user_abort) return transfer;
  if (transfer == Outcome::none) run.delivered_stage.store(stage);
  if (run_settling_wait(window, window_state.cancelled, stage_name, run) == Outcome::user_abort)
    return Outcome::user_abort;
  toolkit().destroy_window(window);
  if (transfer != Outcome::none) return transfer;
  return verify_upgrade(run, session->local_addr, run.device_address, image, stage);
}

}  // namespace qor
