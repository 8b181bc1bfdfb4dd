#include "app/upgrade.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/firmware.h"
#include "app/globals.h"
#include "app/process.h"
#include "app/timing.h"
#include "http/digest.h"
#include "http/request_runner.h"
#include "net/clock.h"
#include "net/socket.h"
#include "tftp/tftp_listener.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"

namespace qor {

namespace {

const SequenceOperations real_operations{&run_device_request, &start_tftp_listener};
const SequenceOperations* operations = &real_operations;

std::int32_t device_request(const char* path) {
  return operations->run_device_request(RequestJob{app_instance, local_address, HTTP_BIND_PORT_BASE,
                                                   device_address, DEVICE_HTTP_PORT, path, page_buffer,
                                                   PAGE_CAPACITY});
}

}  // namespace

void set_sequence_operations(const SequenceOperations* ops) {
  operations = ops ? ops : &real_operations;
}

std::int32_t version_number(const char* text) {
  std::uint32_t acc = 0;
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    unsigned long n = std::strtoul(p, &end, 0);
    // As a 32-bit strtoul reads it: a magnitude beyond 32 bits saturates, a minus sign within them wraps.
    bool minus = p[std::strspn(p, " \t\n\v\f\r")] == '-';
    if (static_cast<std::uint64_t>(minus ? 0UL - n : n) > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    acc = acc * 100u + static_cast<std::uint32_t>(n);
    if (end == nullptr || *end == '\0') break;
    p = end + 1;
  }
  return static_cast<std::int32_t>(acc);
}

void init_program(const StartupOptions& options) {
  // There is no networking library to start on this platform; a native Windows build starts Winsock
  // here and fails with "Upgrade Failed: Winsock init error".
  ::gethostname(host_name, sizeof host_name - 1);
  host_name[sizeof host_name - 1] = '\0';

  std::memset(local_addresses, 0, sizeof local_addresses);
  int count = enumerate_local_addresses(local_addresses, MAX_LOCAL_ADDRESSES, options.loopback_addresses);
  for (int i = 0; i < count; ++i) {
    std::uint32_t a = local_addresses[i];
    debug_trace("Client IP = %x\n", (a >> 24) | ((a >> 8) & 0xFF00) | ((a << 8) & 0xFF0000) | (a << 24));
  }
  local_address = local_addresses[0];

  clear_digest_state();
  std::srand(time_get_time());

  load_firmware_images();
  identify_product();
}

void send_upgrade_trigger(std::uint16_t port) {
  char filename[128];
  get_tftp_filename(filename, sizeof filename);
  char path[256];
  std::uint32_t a = local_address;
  std::snprintf(path, sizeof path, "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s", (a >> 24) & 0xFF,
                (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, static_cast<unsigned>(port), filename);
  device_request(path);
}

void decide_upgrade_stage() {
  if (std::strstr(device_info.software_version, "(NT") != nullptr) return;
  std::int32_t device = version_number(device_info.software_version);
  std::int32_t threshold = version_number(image_version(transition_image));
  if (device >= threshold) upgrade_stage.store(1);
}

void run_upgrade_sequence() {
  if (toolkit().dialog_box(IDD_WARNING, warning_dialog_proc) == 0) return;
  if (toolkit().dialog_box(phone_variant ? IDD_ADDRESS_PHONE : IDD_ADDRESS, address_dialog_proc) == 0) return;

  if (device_request(STATUS_PAGE_PATH) <= 0) {
    show_error("Upgrade Failed: No Response From QOR");
    return;
  }

  if (upgrade_stage.load() == 0) decide_upgrade_stage();

  int confirm = upgrade_stage.load() != 0 ? IDD_CONFIRM : IDD_CONFIRM_TRANSITION;
  if (toolkit().dialog_box(confirm, confirm_dialog_proc) == 0) {
    show_error("Upgrade Failed: User Abort");
    return;
  }

  std::uint16_t port = operations->start_tftp_listener(local_address);
  // The branch is taken from the stage as it stood before the first upgrade request: a device that
  // answers that request only after the transition transfer must still get the second request.
  std::int32_t stage_before_trigger = upgrade_stage.load();
  send_upgrade_trigger(port);

  if (stage_before_trigger == 0) {
    while (upgrade_stage.load() == 0) {
      if (process_ending()) end_process(0);
      sleep_ms(timing.stage_poll_ms);
    }
    char name[128];
    // Our C library's rand() goes past 32767; the names keep to at most four hex digits.
    std::snprintf(name, sizeof name, "/qor%x.bi1", static_cast<unsigned>(std::rand() & 0x7FFF));
    set_tftp_filename(name);
    send_upgrade_trigger(port);
  }
  sleep_forever();
}

int upgrade_main(AppInstance instance, const StartupOptions& options) {
  if (!has_toolkit()) return 0;
  app_instance = instance;
  upgrade_stage.store(initial_upgrade_stage);
  init_program(options);
  run_upgrade_sequence();
  return 0;
}

}  // namespace qor
