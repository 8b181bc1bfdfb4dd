#include "ui/dialogs.h"

#include <cstdio>

#include "app/globals.h"
#include "ui/dialog_common.h"
#include "ui/dialog_templates.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

VersionText version_of(const FirmwareImage& image) {
  VersionText v;
  std::snprintf(v.text, sizeof v.text, "%.*s", static_cast<int>(sizeof v.text - 1), image_version(image));
  return v;
}

void set_product_title(Window window) {
  char title[96];
  std::snprintf(title, sizeof title, texts::PRODUCT_TITLE_FORMAT, product_display_name);
  toolkit().set_window_text(window, title);
}

std::intptr_t end_on_ok_or_cancel(Window window, std::uintptr_t wparam) {
  int id = command_id(wparam);
  if (id != IDOK && id != IDCANCEL) return 0;
  toolkit().end_dialog(window, id == IDOK ? 1 : 0);
  return 1;
}

namespace {

void set_confirm_text(Window window) {
  if (upgrade_stage.load() != 0) {
    toolkit().set_item_text(window, IDC_MAIN_TEXT, texts::CONFIRM);
    return;
  }
  char text[400];
  std::snprintf(text, sizeof text, texts::CONFIRM_TRANSITION_FORMAT, texts::CONFIRM,
                version_of(transition_image).text);
  toolkit().set_item_text(window, IDC_MAIN_TEXT, text);
}

void fill_device_fields(Window window) {
  Toolkit& tk = toolkit();
  tk.set_item_text(window, IDC_SERIAL_NUMBER, device_info.serial_number);
  tk.set_item_text(window, IDC_MAC_ADDRESS, device_info.mac_address);
  tk.set_item_text(window, IDC_SOFTWARE_VERSION, device_info.software_version);
  tk.set_item_text(window, IDC_HARDWARE_VERSION, device_info.hardware_version);
  tk.set_item_text(window, IDC_PRODUCT_NAME, device_info.product_name);
}

}  // namespace

std::intptr_t warning_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    set_product_title(window);
    toolkit().set_item_text(window, IDC_WARNING_TEXT, texts::WARNING);
    // Cancel is also the default button: an Enter pressed without reading must not start anything.
    toolkit().set_focus(window, IDCANCEL);
    center_window(window);
    return 0;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

std::intptr_t confirm_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    char title[128];
    std::snprintf(title, sizeof title, texts::CONFIRM_TITLE_FORMAT, version_of(target_image).text);
    toolkit().set_window_text(window, title);
    set_confirm_text(window);
    fill_device_fields(window);
    // Upgrade is the first control; every backend puts the focus there, not only those that pick the
    // first tab stop by themselves.
    toolkit().set_focus(window, IDOK);
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

std::intptr_t success_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    char title[96];
    std::snprintf(title, sizeof title, texts::SUCCESS_TITLE_FORMAT, device_address_text);
    toolkit().set_window_text(window, title);
    toolkit().set_item_text(window, IDC_MAIN_TEXT, texts::SUCCESS);
    toolkit().set_item_text(window, IDC_SOFTWARE_VERSION, device_info.software_version);
    toolkit().set_focus(window, IDOK);
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND) return end_on_ok_or_cancel(window, wparam);
  return 0;
}

}  // namespace qor
