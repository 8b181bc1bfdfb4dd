#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/run.h"
#include "base/text.h"
#include "base/trace.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

namespace {

constexpr std::size_t MIN_ADDRESS_LENGTH = 7;   // "1.2.3.4"
constexpr std::size_t MAX_ADDRESS_LENGTH = 15;  // "255.255.255.255"

bool is_separator(char c) {
  return c == '.' || c == '*';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the digits at `p` as a decimal number; stops counting once the value can no longer be a byte,
// so that a long run of digits cannot overflow.
unsigned read_part(const char*& p) {
  unsigned value = 0;
  for (; is_digit(*p); ++p) {
    if (value <= 255) value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return value;
}

// Splits at runs of separators, leading and trailing ones skipped, and collects up to four bytes.
int split_parts(const char* work, std::uint32_t& address) {
  int parts = 0;
  const char* p = work;
  for (;;) {
    while (is_separator(*p))
      ++p;
    if (*p == '\0') break;
    if (parts == 4) return ADDRESS_TOO_MANY_PARTS;
    unsigned value = read_part(p);
    if (value > 255) return ADDRESS_PART_TOO_LARGE;
    address = (address << 8) | value;
    ++parts;
  }
  return parts == 4 ? ADDRESS_VALID : ADDRESS_TOO_FEW_PARTS;
}

void fill_local_address_list(Window window, const UpgradeRun& run) {
  for (int i = 0; i < MAX_LOCAL_ADDRESSES && run.local_addresses[i] != 0; ++i) {
    char text[16];
    format_ipv4(text, sizeof text, run.local_addresses[i]);
    toolkit().list_add(window, address_ids::LOCAL_ADDRESSES, text);
  }
  toolkit().list_select(window, address_ids::LOCAL_ADDRESSES, 0);
}

void init_address_dialog(Window window, const UpgradeRun& run) {
  fill_local_address_list(window, run);
  set_product_title(window, run);
  toolkit().set_item_text(window, address_ids::INTRO, texts::ADDRESS_INTRO);
  toolkit().set_item_text(window, address_ids::HELP,
                          run.phone_variant == 1 ? texts::ADDRESS_PHONE_HELP : texts::ADDRESS_HANDSET_HELP);
  char version[64];
  std::snprintf(version, sizeof version, texts::VERSION_FORMAT, version_of(run.target_image).text);
  toolkit().set_item_text(window, address_ids::VERSION, version);
  toolkit().set_focus(window, address_ids::ADDRESS);
  center_window(window);
}

// 0 when there is none to pick: start-up found no address of this PC on a network.
std::uint32_t chosen_local_address(Window window, const UpgradeRun& run) {
  int index = toolkit().list_selection(window, address_ids::LOCAL_ADDRESSES);
  if (index < 0 || index >= MAX_LOCAL_ADDRESSES) return 0;
  return run.local_addresses[index];
}

void accept_address(Window window, UpgradeRun& run) {
  char name[32];
  std::snprintf(name, sizeof name, texts::TFTP_FILENAME_FORMAT, run.tftp_filename.draw_number(),
                static_cast<int>(run.upgrade_stage.load()));
  run.tftp_filename.set(name);
  run.local_address = chosen_local_address(window, run);
  debug_trace("+++ using %x\n", run.local_address);
  toolkit().end_dialog(window, 1);
}

void confirm_address(Window window, UpgradeRun& run) {
  toolkit().get_item_text(window, address_ids::ADDRESS, run.device_address_text,
                          sizeof run.device_address_text);
  parse_ip_address(run.device_address_text, &run.device_address);
  const char* problem = nullptr;
  if (run.device_address == 0) {
    problem = texts::INVALID_ADDRESS;
  } else if (chosen_local_address(window, run) == 0) {
    // The device would be told to fetch its image from 0.0.0.0, and the upgrade would wait for ever.
    problem = texts::NO_LOCAL_ADDRESS;
    run.device_address = 0;  // nothing was confirmed
  }
  if (problem == nullptr) {
    accept_address(window, run);
    return;
  }
  toolkit().message_box(window, problem, texts::INVALID_ADDRESS_CAPTION, MB_OK);
  toolkit().set_focus(window, address_ids::ADDRESS);
}

}  // namespace

int parse_ip_address(const char* text, std::uint32_t* out) {
  std::uint32_t ignored = 0;
  if (out == nullptr) out = &ignored;
  *out = 0;
  if (text == nullptr) return ADDRESS_BAD_LENGTH;
  std::size_t length = strnlen(text, MAX_ADDRESS_LENGTH + 1);
  if (length < MIN_ADDRESS_LENGTH || length > MAX_ADDRESS_LENGTH) return ADDRESS_BAD_LENGTH;
  for (std::size_t i = 0; i < length; ++i) {
    if (!is_digit(text[i]) && !is_separator(text[i])) return ADDRESS_BAD_CHARACTER;
  }
  char work[MAX_ADDRESS_LENGTH + 1];
  copy_text(work, sizeof work, text);
  std::uint32_t address = 0;
  int code = split_parts(work, address);
  if (code == ADDRESS_VALID) *out = address;
  return code;
}

std::intptr_t address_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam) {
  auto& run = dialog_record<UpgradeRun>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    init_address_dialog(window, run);
    return 0;
  }
  if (message != MSG_COMMAND) return 0;
  int id = command_id(wparam);
  if (id == IDOK) {
    confirm_address(window, run);
    return 1;
  }
  if (id == IDCANCEL) {
    toolkit().end_dialog(window, 0);
    return 1;
  }
  return 0;
}

}  // namespace qor
