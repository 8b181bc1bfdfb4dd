// The device's web server: the status page, the upgrade request, Digest authentication, and the
// silence of a device that is restarting.
#pragma once

#include "sim/device.h"

namespace qor::sim {

// Serves until the simulator is stopped or done; returns the exit status.
int run_http_server(Device& device);

}  // namespace qor::sim
