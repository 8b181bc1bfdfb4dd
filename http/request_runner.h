// Runs every device request on a worker thread behind the connecting window, and asks for a password
// when the device demands one.
#pragma once

#include <cstdint>

#include "http/device_client.h"
#include "ui/toolkit.h"

namespace qor {

// Control ids of the password dialog.
inline constexpr int IDC_USERNAME = 1003;
inline constexpr int IDC_PASSWORD = 1005;

inline constexpr int CREDENTIAL_LIMIT = 127;  // bytes read from each field, terminator included
inline constexpr int BAR_PASSES_PER_STEP = 10;
inline constexpr int BAR_MAX = 100;

extern const char* const PASSWORD_HELP_TEXT;

// The bytes of the last attempt's reply (0 when nothing came); does not return when the user aborts.
std::int32_t run_device_request(RequestJob job);

std::intptr_t connecting_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam);
std::intptr_t password_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam);

}  // namespace qor
