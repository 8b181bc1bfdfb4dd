#include "ui/dialog_templates.h"

namespace qor {

// Filled with the ten templates of the program.
namespace {
constexpr ControlTemplate warning_controls[] = {
    {1, ControlKind::button, "Continue", {41, 116, 50, 14}, CF_NONE, 0},
    {2, ControlKind::button, "Cancel", {109, 116, 50, 14}, CF_DEFAULT, 0},
    {1021, ControlKind::text, "", {12, 13, 189, 95}, CF_NO_TABSTOP, 0},
};
constexpr DialogTemplate templates[] = {
    {IDD_WARNING, "QOR-6600 Firmware Upgrade", 204, 143, warning_controls},
};
}  // namespace

std::span<const DialogTemplate> all_dialog_templates() { return templates; }

const DialogTemplate* find_dialog_template(int id) {
  for (const DialogTemplate& t : templates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace qor
