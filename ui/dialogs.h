// Procedures of the dialogs of the upgrade sequence.
#pragma once

#include <cstdint>

#include "ui/toolkit.h"

namespace qor {

// Controls of the warning, address, confirm and success dialogs.
inline constexpr int IDC_WARNING_TEXT = 1021;
inline constexpr int IDC_ADDRESS = 1000;
inline constexpr int IDC_ADDRESS_HELP = 1008;
inline constexpr int IDC_VERSION = 1015;
inline constexpr int IDC_LOCAL_ADDRESSES = 1017;
inline constexpr int IDC_SERIAL_NUMBER = 1002;
inline constexpr int IDC_MAC_ADDRESS = 1003;
inline constexpr int IDC_SOFTWARE_VERSION = 1004;
inline constexpr int IDC_HARDWARE_VERSION = 1005;
inline constexpr int IDC_PRODUCT_NAME = 1006;

std::intptr_t warning_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);
std::intptr_t confirm_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);
std::intptr_t success_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);
std::intptr_t address_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);

// Result codes of parse_ip_address.
enum AddressCheck : int {
  ADDRESS_VALID = 0,
  ADDRESS_PART_TOO_LARGE = 1,
  ADDRESS_TOO_MANY_PARTS = 2,
  ADDRESS_TOO_FEW_PARTS = 3,
  ADDRESS_BAD_LENGTH = 4,
  ADDRESS_BAD_CHARACTER = 5,
};

// Checks a dotted IPv4 text; 0 = valid (stored at `out`), 1..5 = why not. `out` is 0 unless valid.
// '*' separates parts like '.', and runs of separators count as one.
int parse_ip_address(const char* text, std::uint32_t* out);

}  // namespace qor
