// One advisory lock per device address, shared by every run of this program on this PC: a device that
// another run is upgrading is left alone.
#pragma once

#include <string>

namespace qor::console {

// Where the locks live: /run/lock for root, the user's runtime folder otherwise ($XDG_RUNTIME_DIR,
// else the temporary folder); %TEMP% on Windows.
std::string lock_directory();

// Takes the device's lock for the rest of this process; false when another process holds it. A lock
// that cannot be made at all (no such folder) does not keep the device from its upgrade.
bool claim_device(const std::string& address);

// True when another process holds the device's lock now; takes nothing.
bool device_busy(const std::string& address);

}  // namespace qor::console
