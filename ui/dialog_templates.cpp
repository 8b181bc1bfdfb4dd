#include "ui/dialog_templates.h"

#include <array>

namespace qor {

// Rectangles and control order as the dialogs were laid out; the order is also the tab order.
namespace {

using K = ControlKind;

constexpr ControlTemplate warning_controls[] = {
    {IDOK, K::button, "Continue", {41, 116, 50, 14}, CF_NONE, 0},
    {IDCANCEL, K::button, "Cancel", {109, 116, 50, 14}, CF_DEFAULT, 0},
    {warning_ids::TEXT, K::text, "", {12, 13, 189, 95}, CF_NO_TABSTOP, 0},
};

// 101 and 305 hold the same controls; only the picture differs.
constexpr std::array<ControlTemplate, 9> address_controls_with(int icon) {
  return {{
      {IDOK, K::button, "OK", {26, 126, 50, 14}, CF_DEFAULT, 0},
      {IDCANCEL, K::button, "Cancel", {86, 126, 50, 14}, CF_NONE, 0},
      {address_ids::INTRO, K::text, "", {13, 6, 139, 16}, CF_NO_TABSTOP, 0},
      {address_ids::HELP, K::text, "", {13, 42, 148, 56}, CF_NO_TABSTOP, 0},
      {address_ids::VERSION, K::line, "", {37, 28, 89, 14}, CF_NONE, 0},
      {address_ids::LOCAL_ADDRESSES, K::list, "", {63, 153, 79, 80}, CF_NONE, 0},
      {0, K::label, "Your IP Address", {9, 156, 52, 8}, CF_NONE, 0},
      {0, K::icon, "", {119, 18, 20, 20}, CF_NONE, icon},
      {address_ids::ADDRESS, K::address, "", {26, 103, 109, 15}, CF_NONE, 0},
  }};
}

constexpr auto address_controls = address_controls_with(IDI_ADAPTER);
constexpr auto address_phone_controls = address_controls_with(IDI_PHONE);

constexpr ControlTemplate password_controls[] = {
    {IDOK, K::button, "OK", {32, 210, 50, 14}, CF_DEFAULT, 0},
    {IDCANCEL, K::button, "Cancel", {104, 210, 50, 14}, CF_NONE, 0},
    {password_ids::USERNAME, K::edit, "", {68, 168, 85, 14}, CF_NONE, 0},
    {password_ids::PASSWORD, K::edit, "", {68, 186, 85, 14}, CF_PASSWORD, 0},
    {0, K::label, "User", {18, 170, 44, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Password", {18, 191, 44, 8}, CF_ALIGN_RIGHT, 0},
    {password_ids::HELP, K::text, "", {15, 9, 165, 152}, CF_NO_TABSTOP, 0},
};

constexpr ControlTemplate connecting_controls[] = {
    {IDCANCEL, K::button, "Cancel", {65, 34, 50, 14}, CF_NONE, 0},
    {IDC_PROGRESS, K::bar, "", {22, 10, 141, 14}, CF_NONE, 0},
};

constexpr ControlTemplate confirm_controls[] = {
    {IDOK, K::button, "Upgrade", {33, 143, 50, 14}, CF_DEFAULT, 0},
    {IDCANCEL, K::button, "Cancel", {87, 143, 50, 14}, CF_NONE, 0},
    {confirm_ids::SERIAL_NUMBER, K::field, "", {82, 49, 67, 14}, CF_NONE, 0},
    {confirm_ids::MAC_ADDRESS, K::field, "", {82, 66, 67, 14}, CF_NONE, 0},
    {confirm_ids::SOFTWARE_VERSION, K::field, "", {82, 84, 67, 14}, CF_NONE, 0},
    {confirm_ids::HARDWARE_VERSION, K::field, "", {82, 100, 67, 14}, CF_NONE, 0},
    {confirm_ids::PRODUCT_NAME, K::field, "", {82, 118, 67, 14}, CF_NONE, 0},
    {0, K::label, "Serial Number", {4, 52, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "MAC Address", {4, 70, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Software Version", {4, 87, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Hardware Version", {4, 103, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Product Name", {4, 121, 72, 8}, CF_ALIGN_RIGHT, 0},
    {confirm_ids::TEXT, K::text, "", {12, 6, 142, 37}, CF_NONE, 0},
};

constexpr ControlTemplate confirm_transition_controls[] = {
    {IDOK, K::button, "Upgrade", {42, 179, 50, 14}, CF_DEFAULT, 0},
    {IDCANCEL, K::button, "Cancel", {96, 179, 50, 14}, CF_NONE, 0},
    {confirm_ids::SERIAL_NUMBER, K::field, "", {92, 86, 67, 14}, CF_NONE, 0},
    {confirm_ids::MAC_ADDRESS, K::field, "", {92, 103, 67, 14}, CF_NONE, 0},
    {confirm_ids::SOFTWARE_VERSION, K::field, "", {92, 121, 67, 14}, CF_NONE, 0},
    {confirm_ids::HARDWARE_VERSION, K::field, "", {92, 137, 67, 14}, CF_NONE, 0},
    {confirm_ids::PRODUCT_NAME, K::field, "", {92, 154, 67, 14}, CF_NONE, 0},
    {0, K::label, "Serial Number", {14, 89, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "MAC Address", {14, 106, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Software Version", {14, 124, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Hardware Version", {14, 140, 72, 8}, CF_ALIGN_RIGHT, 0},
    {0, K::label, "Product Name", {14, 158, 72, 8}, CF_ALIGN_RIGHT, 0},
    {confirm_ids::TEXT, K::text, "", {23, 7, 142, 77}, CF_NONE, 0},
};

constexpr ControlTemplate waiting_controls[] = {
    {IDCANCEL, K::button, "Cancel", {108, 115, 50, 14}, CF_NONE, 0},
    {waiting_ids::BAR, K::bar, "", {38, 95, 191, 14}, CF_NONE, 0},
    {waiting_ids::TEXT, K::label, "", {15, 9, 244, 79}, CF_NONE, 0},
};

constexpr ControlTemplate upload_controls[] = {
    {IDCANCEL, K::button, "Cancel", {126, 52, 50, 14}, CF_NONE, 0},
    {IDC_PROGRESS, K::bar, "", {31, 36, 242, 8}, CF_NONE, 0},
    {0,
     K::label,
     "Please do not unplug the power of your QOR until the Status Light stops blinking",
     {86, 12, 137, 22},
     CF_ALIGN_CENTER,
     0},
};

constexpr ControlTemplate success_controls[] = {
    {IDOK, K::button, "OK", {59, 94, 50, 14}, CF_DEFAULT, 0},
    {success_ids::VERSION, K::field, "", {15, 69, 136, 14}, CF_ALIGN_CENTER, 0},
    {success_ids::TEXT, K::text, "", {29, 9, 111, 33}, CF_NONE, 0},
};

// In the order in which a run meets them.
constexpr DialogTemplate templates[] = {
    {IDD_WARNING, "QOR-6600 Firmware Upgrade", 204, 143, warning_controls},
    {IDD_ADDRESS, "Enter QOR IP Address", 165, 181, address_controls},
    {IDD_ADDRESS_PHONE, "Dialog", 164, 178, address_phone_controls},
    {IDD_CONNECTING, "Connecting with QOR", 186, 55, connecting_controls},
    {IDD_PASSWORD, "Enter Password Information", 191, 236, password_controls},
    {IDD_CONFIRM, "Confirm Upgrade", 172, 166, confirm_controls},
    {IDD_CONFIRM_TRANSITION, "Confirm Upgrade", 186, 198, confirm_transition_controls},
    {IDD_WAITING, "Waiting For Firmware Download Request From QOR", 270, 141, waiting_controls},
    {IDD_UPLOAD, "Uploading Firmware To QOR", 303, 77, upload_controls},
    {IDD_SUCCESS, "QOR Upgrade Successful!", 171, 126, success_controls},
};

}  // namespace

std::span<const DialogTemplate> all_dialog_templates() {
  return templates;
}

const DialogTemplate* find_dialog_template(int id) {
  for (const DialogTemplate& t : templates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace qor
