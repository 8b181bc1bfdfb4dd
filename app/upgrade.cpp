#include "app/upgrade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/report.h"
#include "app/serve.h"
#include "base/process.h"
#include "base/trace.h"
#include "http/request_runner.h"
#include "net/clock.h"
#include "net/socket.h"
#include "ui/dialogs.h"
#include "ui/texts.h"

namespace qor {

const SequenceOperations REAL_OPERATIONS{&run_device_request, &start_tftp_listener};

namespace {

RequestResult device_request(UpgradeRun& run, const SequenceOperations& ops, const char* path,
                             DeviceInfo& info) {
  return ops.run_device_request(
      run, {run.local_address, HTTP_BIND_PORT_BASE, run.device_address, DEVICE_HTTP_PORT, path}, info);
}

// The reply to an upgrade request is not looked at: the listener keeps waiting for the device whatever
// it says, and its fields do not replace what the status page said.
Outcome send_upgrade_trigger(UpgradeRun& run, const SequenceOperations& ops, std::uint16_t port) {
  char filename[128];
  run.tftp_filename.get(filename, sizeof filename);
  char path[256];
  std::uint32_t a = run.local_address;
  std::snprintf(path, sizeof path, texts::UPGRADE_PATH_FORMAT, (a >> 24) & 0xFF, (a >> 16) & 0xFF,
                (a >> 8) & 0xFF, a & 0xFF, static_cast<unsigned>(port), filename);
  DeviceInfo ignored = run.device_info;
  return device_request(run, ops, path, ignored).failure;
}

std::intptr_t record(UpgradeRun& run) {
  return reinterpret_cast<std::intptr_t>(&run);
}

}  // namespace

std::int32_t version_number(const char* text) {
  std::uint32_t acc = 0;
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    unsigned long long n = std::strtoull(p, &end, 0);
    // As a 32-bit strtoul reads it: a magnitude beyond 32 bits saturates, a minus sign within them wraps.
    bool minus = p[std::strspn(p, " \t\n\v\f\r")] == '-';
    if ((minus ? 0ULL - n : n) > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    acc = acc * 100u + static_cast<std::uint32_t>(n);
    if (end == nullptr || *end == '\0') break;
    p = end + 1;
  }
  return static_cast<std::int32_t>(acc);
}

Outcome init_program(UpgradeRun& run, const StartupOptions& options) {
  if (!start_networking()) return Outcome::networking_failed;
  std::memset(run.local_addresses, 0, sizeof run.local_addresses);
  int count = enumerate_local_addresses(run.local_addresses, MAX_LOCAL_ADDRESSES, options.loopback_addresses);
  for (int i = 0; i < count; ++i) {
    std::uint32_t a = run.local_addresses[i];
    debug_trace("Client IP = %x\n", (a >> 24) | ((a >> 8) & 0xFF00) | ((a << 8) & 0xFF0000) | (a << 24));
  }
  run.local_address = run.local_addresses[0];

  run.digest->state = DigestState{};
  std::srand(time_get_time());

  load_firmware_images(run);
  identify_product(run);
  return Outcome::none;
}

void decide_upgrade_stage(UpgradeRun& run) {
  const char* software_version = run.device_info.software_version;
  if (std::strstr(software_version, "(NT") != nullptr) return;
  std::int32_t device = version_number(software_version);
  std::int32_t threshold = version_number(image_version(run.transition_image));
  if (device >= threshold) run.upgrade_stage.store(1);
}

Outcome run_upgrade_sequence(UpgradeRun& run, const SequenceOperations& ops) {
  Toolkit& tk = toolkit();
  if (tk.dialog_box(IDD_WARNING, warning_dialog_proc, record(run)) == 0) return Outcome::declined;
  if (tk.dialog_box(run.phone_variant ? IDD_ADDRESS_PHONE : IDD_ADDRESS, address_dialog_proc, record(run)) ==
      0)
    return Outcome::declined;

  RequestResult status = device_request(run, ops, STATUS_PAGE_PATH, run.device_info);
  if (status.failure != Outcome::none) return status.failure;
  if (status.received <= 0) return Outcome::no_response;

  if (run.upgrade_stage.load() == 0) decide_upgrade_stage(run);

  int confirm = run.upgrade_stage.load() != 0 ? IDD_CONFIRM : IDD_CONFIRM_TRANSITION;
  if (tk.dialog_box(confirm, confirm_dialog_proc, record(run)) == 0) return Outcome::user_abort;

  std::uint16_t port = 0;
  if (Outcome failed = ops.start_tftp_listener(run, port); failed != Outcome::none) return failed;
  // The branch is taken from the stage as it stood before the first upgrade request: a device that
  // answers that request only after the transition transfer must still get the second request.
  const std::int32_t stage_before_trigger = run.upgrade_stage.load();
  if (Outcome failed = send_upgrade_trigger(run, ops, port); failed != Outcome::none) return failed;

  if (stage_before_trigger == 0) {
    while (run.upgrade_stage.load() == 0) {
      if (run_ending()) end_run();
      sleep_ms(run.timing.stage_poll_ms);
    }
    char name[128];
    std::snprintf(name, sizeof name, texts::TFTP_FILENAME_FORMAT, run.tftp_filename.draw_number(), 1);
    run.tftp_filename.set(name);
    if (Outcome failed = send_upgrade_trigger(run, ops, port); failed != Outcome::none) return failed;
  }
  wait_for_run_end();
}

int upgrade_main(UpgradeRun& run, const StartupOptions& options, const SequenceOperations& operations) {
  if (!has_toolkit()) return 0;
  run.upgrade_stage.store(initial_upgrade_stage);
  Outcome outcome = init_program(run, options);
  if (outcome == Outcome::none) outcome = run_upgrade_sequence(run, operations);
  if (outcome == Outcome::declined) {
    run.outcome.store(outcome);
    return 0;
  }
  report_outcome(run, outcome);
  return 0;
}

}  // namespace qor
