// Placeholder until the dialog procedures land.
#include "ui/dialogs.h"

namespace qor {

std::intptr_t warning_dialog_proc(Window, unsigned, std::uintptr_t, std::intptr_t) { return 0; }
std::intptr_t confirm_dialog_proc(Window, unsigned, std::uintptr_t, std::intptr_t) { return 0; }
std::intptr_t success_dialog_proc(Window, unsigned, std::uintptr_t, std::intptr_t) { return 0; }
std::intptr_t address_dialog_proc(Window, unsigned, std::uintptr_t, std::intptr_t) { return 0; }
int parse_ip_address(const char*, std::uint32_t* out) {
  *out = 0;
  return 3;
}

}  // namespace qor
