#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/firmware.h"
#include "app/globals.h"
#include "ui/dialog_common.h"
#include "ui/dialog_templates.h"
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

void fill_local_address_list(Window window) {
  for (int i = 0; i < MAX_LOCAL_ADDRESSES && local_addresses[i] != 0; ++i) {
    char text[16];
    format_ipv4(text, sizeof text, local_addresses[i]);
    toolkit().list_add(window, IDC_LOCAL_ADDRESSES, text);
  }
  toolkit().list_select(window, IDC_LOCAL_ADDRESSES, 0);
}

void init_address_dialog(Window window) {
  fill_local_address_list(window);
  set_product_title(window);
  toolkit().set_item_text(window, IDC_MAIN_TEXT, texts::ADDRESS_INTRO);
  toolkit().set_item_text(window, IDC_ADDRESS_HELP,
                          phone_variant == 1 ? texts::ADDRESS_PHONE_HELP : texts::ADDRESS_HANDSET_HELP);
  char version[64];
  std::snprintf(version, sizeof version, texts::VERSION_FORMAT, version_of(target_image).text);
  toolkit().set_item_text(window, IDC_VERSION, version);
  toolkit().set_focus(window, IDC_ADDRESS);
  center_window(window);
}

// With no local address to pick (none was found at start-up) the requests go out from the wildcard
// address, so the device can still be reached through whatever interface routes to it.
std::uint32_t chosen_local_address(Window window) {
  int index = toolkit().list_selection(window, IDC_LOCAL_ADDRESSES);
  if (index < 0 || index >= MAX_LOCAL_ADDRESSES) return 0;
  return local_addresses[index];
}

void accept_address(Window window) {
  // The program's random numbers run from 0 to 32767 whatever RAND_MAX is here, so the number part of
  // the name stays within four hex digits, at most 7fff.
  char name[32];
  std::snprintf(name, sizeof name, texts::TFTP_FILENAME_FORMAT, static_cast<unsigned>(std::rand() & 0x7FFF),
                static_cast<int>(upgrade_stage.load()));
  set_tftp_filename(name);
  local_address = chosen_local_address(window);
  debug_trace("+++ using %x\n", local_address);
  toolkit().end_dialog(window, 1);
}

void confirm_address(Window window) {
  toolkit().get_item_text(window, IDC_ADDRESS, device_address_text, sizeof device_address_text);
  parse_ip_address(device_address_text, &device_address);
  if (device_address != 0) {
    accept_address(window);
    return;
  }
  toolkit().message_box(window, texts::INVALID_ADDRESS, texts::INVALID_ADDRESS_CAPTION, MB_OK);
  toolkit().set_focus(window, IDC_ADDRESS);
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

std::intptr_t address_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    init_address_dialog(window);
    return 0;
  }
  if (message != MSG_COMMAND) return 0;
  int id = command_id(wparam);
  if (id == IDOK) {
    confirm_address(window);
    return 1;
  }
  if (id == IDCANCEL) {
    toolkit().end_dialog(window, 0);
    return 1;
  }
  return 0;
}

}  // namespace qor
