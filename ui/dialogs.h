// Procedures of the dialogs of the upgrade sequence.
#pragma once

#include <cstdint>

#include "ui/toolkit.h"

namespace qor {

std::intptr_t warning_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
std::intptr_t confirm_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
std::intptr_t success_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
std::intptr_t address_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t lparam);

// Checks a dotted IPv4 text; 0 = valid (stored at `out`), 1..5 = why not. `out` is 0 unless valid.
int parse_ip_address(const char* text, std::uint32_t* out);

}  // namespace qor
