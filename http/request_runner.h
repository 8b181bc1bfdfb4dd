// Runs every device request on a worker thread behind the connecting window, and asks for a password
// when the device demands one.
#pragma once

#include <cstdint>

#include "base/run.h"
#include "http/device_client.h"
#include "ui/toolkit.h"

namespace qor {

inline constexpr int CREDENTIAL_LIMIT = 127;  // bytes read from each field, terminator included
inline constexpr int BAR_PASSES_PER_STEP = 10;
inline constexpr int BAR_MAX = 100;

// Performs the request for `run` (its Digest state, its typed address in the window title, its timing):
// the result of the last attempt, `received` 0 when nothing came, or the failure (Cancel in either
// window: user_abort; no HTTP socket). `info` starts as what the caller knew of the device and takes the
// fields of the reply. Blocks the calling thread, whose connecting window it keeps responsive.
RequestResult run_device_request(UpgradeRun& run, const RequestJob& job, DeviceInfo& info);

std::intptr_t connecting_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam);
// Init parameter: the run's SharedDigest, which takes the credentials on OK.
std::intptr_t password_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam);

}  // namespace qor
