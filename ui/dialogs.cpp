#include "ui/dialogs.h"

#include <cstdio>

#include "base/run.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

VersionText version_of(const FirmwareImage& image) {
  VersionText v;
  std::snprintf(v.text, sizeof v.text, "%.*s", static_cast<int>(sizeof v.text - 1), image_version(image));
  return v;
}

void set_product_title(Window window, const UpgradeRun& run) {
  char title[96];
  std::snprintf(title, sizeof title, texts::PRODUCT_TITLE_FORMAT, run.product_display_name);
  toolkit().set_window_text(window, title);
}

namespace {

// Continue, OK and Upgrade end the dialog with 1; Cancel, Escape and the close box with 0. Returns
// whether the command was one of the two.
std::intptr_t end_on_ok_or_cancel(Window window, std::uintptr_t wparam) {
  int id = command_id(wparam);
  if (id != IDOK && id != IDCANCEL) return 0;
  toolkit().end_dialog(window, id == IDOK ? 1 : 0);
  return 1;
}

void set_confirm_text(Window window, const UpgradeRun& run) {
  if (run.upgrade_stage.load() != 0) {
    toolkit().set_item_text(window, confirm_ids::TEXT, texts::CONFIRM);
    return;
  }
  char text[400];
  std::snprintf(text, sizeof text, texts::CONFIRM_TRANSITION_FORMAT, texts::CONFIRM,
                version_of(run.transition_image).text);
  toolkit().set_item_text(window, confirm_ids::TEXT, text);
}

void fill_device_fields(Window window, const DeviceInfo& info) {
  Toolkit& tk = toolkit();
  tk.set_item_text(window, confirm_ids::SERIAL_NUMBER, info.serial_number);
  tk.set_item_text(window, confirm_ids::MAC_ADDRESS, info.mac_address);
  tk.set_item_text(window, confirm_ids::SOFTWARE_VERSION, info.software_version);
  tk.set_item_text(window, confirm_ids::HARDWARE_VERSION, info.hardware_version);
  tk.set_item_text(window, confirm_ids::PRODUCT_NAME, info.product_name);
}

}  // namespace

std::intptr_t warning_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam) {
  const auto& run = dialog_record<const UpgradeRun>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    set_product_title(window, run);
    toolkit().set_item_text(window, warning_ids::TEXT, texts::WARNING);
    // Cancel is also the default button: an Enter pressed without reading must not start anything.
    toolkit().set_focus(window, IDCANCEL);
    center_window(window);
    return 0;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

std::intptr_t confirm_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam) {
  const auto& run = dialog_record<const UpgradeRun>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    char title[128];
    std::snprintf(title, sizeof title, texts::CONFIRM_TITLE_FORMAT, version_of(run.target_image).text);
    toolkit().set_window_text(window, title);
    set_confirm_text(window, run);
    fill_device_fields(window, run.device_info);
    // Upgrade is the first control; every backend puts the focus there, not only those that pick the
    // first tab stop by themselves.
    toolkit().set_focus(window, IDOK);
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

std::intptr_t success_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam) {
  const auto& run = dialog_record<const UpgradeRun>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    char title[96];
    std::snprintf(title, sizeof title, texts::SUCCESS_TITLE_FORMAT, run.device_address_text);
    toolkit().set_window_text(window, title);
    toolkit().set_item_text(window, success_ids::TEXT, texts::SUCCESS);
    toolkit().set_item_text(window, success_ids::VERSION, run.device_info.software_version);
    toolkit().set_focus(window, IDOK);
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

}  // namespace qor
