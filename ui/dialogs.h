// Procedures of the dialogs of the upgrade sequence. Each takes the run record (UpgradeRun) as its init
// parameter: what it shows comes from there, and the address dialog writes its answer there.
#pragma once

#include <cstdint>

#include "base/firmware.h"
#include "ui/toolkit.h"

namespace qor {

// An image's version text, bounded by the header: a damaged image whose version lacks its terminator
// still never makes a dialog read past the header.
struct VersionText {
  char text[IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET + 1];
};
VersionText version_of(const FirmwareImage& image);

struct UpgradeRun;
// "<product> Firmware Upgrade", the caption of the warning and address dialogs.
void set_product_title(Window window, const UpgradeRun& run);

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
