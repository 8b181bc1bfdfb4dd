// Small pieces that the procedures of the sequence dialogs share.
#pragma once

#include "app/firmware.h"
#include "ui/toolkit.h"

namespace qor {

// An image's version text, bounded by the header: a damaged image whose version lacks its terminator
// still never makes a dialog read past the header.
struct VersionText {
  char text[IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET + 1];
};
VersionText version_of(const FirmwareImage& image);

// "<product> Firmware Upgrade", the caption of the warning and address dialogs.
void set_product_title(Window window);

// Continue, OK and Upgrade end the dialog with 1; Cancel, Escape and the close box with 0. Returns
// whether the command was one of the two.
std::intptr_t end_on_ok_or_cancel(Window window, std::uintptr_t wparam);

}  // namespace qor
