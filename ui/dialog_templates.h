// The program's dialog templates as plain data: one source of truth for every toolkit backend.
#pragma once

#include <cstddef>
#include <span>

#include "ui/control_ids.h"

namespace qor {

enum class ControlKind {
  button,   // push button
  text,     // read-only multi-line text without border; the texts carry their own line breaks
  line,     // read-only single-line text without border
  field,    // read-only single-line text with border
  edit,     // writable single-line text with border
  list,     // drop-down list, pick only, not sorted
  label,    // static text
  icon,     // static picture of an icon resource
  address,  // IPv4 address entry: four numeric fields, read back as dotted text
  bar,      // progress bar with border
};

enum ControlFlags : unsigned {
  CF_NONE = 0,
  CF_DEFAULT = 1u << 0,     // the button that Enter presses
  CF_PASSWORD = 1u << 1,    // hides the characters typed
  CF_NO_TABSTOP = 1u << 2,  // skipped by Tab
  CF_ALIGN_RIGHT = 1u << 3,
  CF_ALIGN_CENTER = 1u << 4,
};

// Rectangles are in dialog units, as the templates were laid out: x, y, width, height.
struct DlgRect {
  int x, y, width, height;
};

struct ControlTemplate {
  int id;  // 0 for labels and icons that nothing addresses
  ControlKind kind;
  const char* caption;  // fixed caption, or "" when the procedure sets it
  DlgRect rect;
  unsigned flags;
  int icon;  // icon resource number for ControlKind::icon, else 0
};

struct DialogTemplate {
  int id;
  const char* caption;
  int width, height;                          // dialog units
  std::span<const ControlTemplate> controls;  // template order = tab order
};

// Every template has the same frame: a caption with a close box, a modal dialog frame, no menu, and this
// font, whose metrics turn dialog units into pixels.
inline constexpr const char* DIALOG_FONT_FAMILY = "MS Sans Serif";
inline constexpr int DIALOG_FONT_POINTS = 8;

// The template with this number, or null.
const DialogTemplate* find_dialog_template(int id);
std::span<const DialogTemplate> all_dialog_templates();

}  // namespace qor
