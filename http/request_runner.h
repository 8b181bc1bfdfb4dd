// Runs every device request on a worker thread behind the connecting window, and asks for a password
// when the device demands one.
#pragma once

#include <cstdint>

#include "http/device_client.h"

namespace qor {

// The bytes of the last attempt's reply (0 when nothing came); does not return when the user aborts.
std::int32_t run_device_request(RequestJob job);

}  // namespace qor
